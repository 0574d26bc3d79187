#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/runtime/eventqueue.h"
#include "base/net/eventsocket.h"
#include "base/net/packetsocket.h"
#include "base/proxy/proxysettings.h"
#include "base/runtime/signal.h"
#include "base/net/sockethub.h"
#include "p2p/base/candidate.h"
#include "p2p/base/network.h"
#include "p2p/base/stunpacket.h"
#include "p2p/base/unknownsenderlimit.h"

namespace vexalo {

class Connection;

// Where a remote candidate came from, as seen by the port asked to connect to it.
enum CandidateOrigin {
  ORIGIN_THIS_PORT = 0,   // learned from a check that arrived on this port
  ORIGIN_OTHER_PORT = 1,  // learned on another local port
  ORIGIN_MESSAGE = 2,     // signalled by the peer
};

// One local transport endpoint bound to one network: publishes candidates, owns the
// connections from them to remote candidates, answers the peer's checks and separates STUN
// from media. Runs on one thread; destroys itself once expired without connections.
class Port : public MessageTarget, public SlotHost {
 public:
  static constexpr uint32_t kLifetimeMessage = 1;
  static constexpr int kLifetimeMs = 30000;

  Port(EventQueue* thread, SocketHub* factory, const Network& network, const std::string& type);
  ~Port() override;
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  void HandleMessage(QueuedMessage* msg) override;
  virtual void PrepareAddress() = 0;
  // A new connection (registered with AddConnection) or null.
  virtual Connection* CreateConnection(const Candidate& remote, CandidateOrigin origin) = 0;
  virtual int SendTo(const char* data, size_t size, const SocketAddress& address,
                     bool is_payload) = 0;
  virtual int SetOption(SocketOption option, int value) = 0;
  virtual int GetError() = 0;

  void Start();

  EventQueue* thread() const { return thread_; }
  const std::string& type() const { return type_; }
  const Network& network() const { return network_; }
  const std::string& name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  const std::string& username_fragment() const { return username_fragment_; }
  const std::string& password() const { return password_; }
  float preference() const { return preference_; }
  void SetPreference(float preference) { preference_ = preference; }
  uint32_t generation() const { return generation_; }
  void SetGeneration(uint32_t generation) { generation_ = generation; }
  const std::vector<Candidate>& candidates() const { return candidates_; }
  const std::map<SocketAddress, Connection*>& connections() const { return connections_; }
  // Packets from unknown senders that were neither answered nor logged, for diagnostics.
  uint64_t unknown_suppressed() const {
    return answer_limit_.suppressed() + log_limit_.suppressed();
  }

  // The proxy that outgoing stream sockets go through; none by default.
  void SetProxy(const std::string& user_agent, const ProxySettings& proxy);

  void AddAddress(const SocketAddress& address, const std::string& protocol, bool final);
  Connection* GetConnection(const SocketAddress& remote) const;
  // Takes ownership.
  void AddConnection(Connection* connection);

  // Classifies bytes from `from`. False: not STUN. True with a packet: a request or response
  // for the caller, with the peer's part of the username. True without: STUN already dealt
  // with (refused, answered or logged).
  bool GetStunMessage(const char* data, size_t size, const SocketAddress& from,
                      std::unique_ptr<StunPacket>* out, std::string* remote_username);
  void SendBindingResponse(const StunPacket& request, const SocketAddress& to);
  void SendBindingErrorResponse(const StunPacket& request, const SocketAddress& to, int code,
                                const std::string& reason);
  void HandleUnknownAddressPacket(const char* data, size_t size, const SocketAddress& from);

  // 0 UDP; 1 TCP, 2 SSL-TCP (both through the proxy, framed); null for anything else.
  PacketSocket* CreatePacketSocket(int protocol);

  Signal<Port*> AddressReady;
  Signal<Port*, Connection*> ConnectionCreated;
  // A check from an address without connection, with a good username. The port keeps the
  // request; a handler answers it during the call.
  Signal<Port*, const SocketAddress&, const StunPacket&, const std::string&> UnknownAddress;
  Signal<Port*> Destroyed;

 protected:
  // Whether an answer to, or a log line about, a stranger's packet may go out now. Separate
  // budgets: a flood of junk must not use up the answers to real checks with a wrong name.
  bool AllowStrangerAnswer() { return answer_limit_.Allow(thread_->Now()); }
  bool AllowStrangerLog() { return log_limit_.Allow(thread_->Now()); }
  SocketHub* factory() const { return factory_; }
  const ProxySettings& proxy() const { return proxy_; }
  // Ports whose credentials come from elsewhere (a relay session) replace the random ones.
  void SetCredentials(const std::string& username_fragment, const std::string& password) {
    username_fragment_ = username_fragment;
    password_ = password;
  }

 private:
  enum Lifetime { LT_PRESTART, LT_PRESTARTED, LT_EXPIRED };

  // Builds the message objects of bytes the view already accepted.
  static std::unique_ptr<StunPacket> ParseValidated(const char* data, size_t size);
  static void StartAnswer(const StunPacket& request, uint16_t type, StunPacket* answer);
  void OnConnectionDestroyed(Connection* connection);
  void CheckForDeath();

  EventQueue* thread_;
  SocketHub* factory_;
  std::string type_;
  Network network_;
  std::string name_;
  std::string username_fragment_;
  std::string password_;
  float preference_ = -1.0f;
  uint32_t generation_ = 0;
  std::vector<Candidate> candidates_;
  std::map<SocketAddress, Connection*> connections_;
  Lifetime lifetime_ = LT_PRESTART;
  std::string user_agent_;
  ProxySettings proxy_;
  UnknownSenderLimit answer_limit_;
  UnknownSenderLimit log_limit_;
};

}  // namespace vexalo
