#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/net/eventsocket.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "p2p/base/candidate.h"
#include "p2p/base/connection.h"
#include "p2p/base/port.h"
#include "p2p/client/allocatorsession.h"
#include "p2p/client/portallocator.h"

namespace vexalo {

// The datagram endpoint the upper layers send on: gathers local ports through allocator
// sessions, pairs them with the peer's candidates, checks the pairs and sends through the best.
// Lives on one thread (the worker's).
class P2PSocket : public MessageTarget, public SlotHost {
 public:
  enum State { STATE_CONNECTING = 0, STATE_WRITABLE = 1 };
  enum MessageId : uint32_t { kSortMessage = 1, kPingMessage = 2, kSignalingMessage = 3 };

  static constexpr int kPingConnectingMs = 48;
  static constexpr int kPingWritableMs = 480;
  static constexpr int kBestPingIntervalMs = 900;
  static constexpr int kNewSessionMs = 20000;
  static constexpr uint32_t kSwitchRttMarginMs = 10;
  // The connection in use is given up after this long without an answer (others after 5 s):
  // a dead path must not leave a call silent for seconds. Once one of its pings is overdue it
  // is re-checked on every fast tick, so random loss, even 20%, almost never trips this.
  static constexpr int64_t kBestUnconfirmedAfterMs = 750;
  // Connections are pairs of local ports and remote candidates; a peer that keeps sending new
  // candidates or checks from new addresses must not grow them without end.
  static constexpr size_t kMaxRemoteCandidates = 64;
  static constexpr size_t kMaxConnections = 256;

  P2PSocket(const std::string& name, PortAllocator* allocator, EventQueue* thread);
  ~P2PSocket() override;
  P2PSocket(const P2PSocket&) = delete;
  P2PSocket& operator=(const P2PSocket&) = delete;

  void HandleMessage(QueuedMessage* msg) override;

  void Connect();
  void OnSignalingReady();
  void OnRemoteCandidates(const std::vector<Candidate>& candidates);
  int Send(const char* data, size_t size);
  int GetError() const { return error_; }
  int SetOption(SocketOption option, int value);
  void Reset();
  bool IsWritable() const;

  const std::string& name() const { return name_; }
  State state() const { return state_; }
  Connection* best_connection() const { return best_connection_; }
  const std::vector<Connection*>& connections() const { return connections_; }
  const std::vector<Port*>& ports() const { return ports_; }
  size_t session_count() const { return sessions_.size(); }
  size_t remote_candidate_count() const { return remote_candidates_.size(); }

  // Positive when `a` is the better connection.
  static int Compare(const Connection* a, const Connection* b);
  static bool ShouldSwitch(const Connection* current, const Connection* candidate);

  Signal<P2PSocket*, State> StateChanged;
  Signal<P2PSocket*> RequestSignaling;
  Signal<P2PSocket*, const char*, size_t> PacketReceived;
  // The same packet with the connection it came on, for users that trust only some of them.
  Signal<P2PSocket*, Connection*, const char*, size_t> ConnectionPacketReceived;
  Signal<P2PSocket*, const SocketAddress&> BestConnectionChanged;
  Signal<P2PSocket*, const std::vector<Candidate>&> CandidatesReady;
  Signal<P2PSocket*> Sorted;

 private:
  struct RemoteCandidate {
    Candidate candidate;
    Port* origin;
  };

  void AddSession(std::unique_ptr<AllocatorSession> session);
  void OnPortReady(AllocatorSession* session, Port* port);
  void OnCandidatesReady(AllocatorSession* session, const std::vector<Candidate>& candidates);
  void OnUnknownAddress(Port* port, const SocketAddress& address, const StunPacket& request,
                        const std::string& remote_username);
  void OnPortDestroyed(Port* port);
  void OnConnectionStateChange(Connection* connection);
  void OnConnectionDestroyed(Connection* connection);
  void OnConnectionPacket(Connection* connection, const char* data, size_t size);

  bool CreateConnections(const Candidate& candidate, Port* origin, bool readable);
  bool CreateConnection(Port* port, const Candidate& candidate, Port* origin, bool readable);
  bool RememberRemoteCandidate(const Candidate& candidate, Port* origin);
  void RequestSort();
  void Sort();
  void PingTick();
  void UpdateConnectionStates(Tick now);
  bool BestHasOverduePing(Tick now) const;
  Connection* FindConnectionToPing(Tick now);
  bool IsPingable(const Connection* connection) const;
  void DoRequestSignaling();
  void SetState(State state);
  void ApplyOption(Port* port, SocketOption option, int value);

  std::string name_;
  PortAllocator* allocator_;
  EventQueue* thread_;
  State state_ = STATE_CONNECTING;
  std::vector<std::unique_ptr<AllocatorSession>> sessions_;
  std::vector<Port*> ports_;
  std::vector<Connection*> connections_;
  Connection* best_connection_ = nullptr;
  std::vector<RemoteCandidate> remote_candidates_;
  std::map<SocketOption, int> options_;
  bool remote_seen_ = false;
  bool sort_pending_ = false;
  bool was_writable_ = false;
  bool signaling_requested_ = false;
  bool unwritable_reported_ = true;
  // When the ping tick next chooses a connection by the regular schedule; ticks before it
  // only follow up an overdue check of the best connection.
  Tick next_regular_ping_ = 0;
  int error_ = 0;
};

}  // namespace vexalo
