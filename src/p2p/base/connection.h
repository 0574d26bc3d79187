#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "base/runtime/queuedmessage.h"
#include "base/runtime/signal.h"
#include "base/runtime/timeutils.h"
#include "p2p/base/candidate.h"
#include "p2p/base/ratetracker.h"
#include "p2p/base/stuntransactiontable.h"

namespace vexalo {

class Port;

// One pair of a local candidate of a port and a remote candidate: pings the peer, tracks
// whether the pair can be read and written, measures the round trip and carries data.
class Connection : public MessageTarget, public SlotHost {
 public:
  enum ReadState { STATE_READ_LIVE = 0, STATE_READ_SILENT = 1 };
  enum WriteState { STATE_WRITE_CONFIRMED = 0, STATE_WRITE_UNCONFIRMED = 1,
                    STATE_WRITE_FAILED = 2 };
  static constexpr uint32_t kDestroyMessage = 1;
  // The send times of at most this many unanswered pings are kept (the oldest ones): the
  // state rules look at the oldest and the fifth-oldest only.
  static constexpr size_t kMaxUnansweredPings = 64;
  // A confirmed connection turns unconfirmed once its oldest unanswered ping is this old.
  static constexpr int64_t kUnconfirmedAfterMs = 5000;

  Connection(Port* port, size_t local_candidate_index, const Candidate& remote);
  ~Connection() override;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void HandleMessage(QueuedMessage* msg) override;
  // An empty candidate when the index is past the port's list.
  virtual Candidate LocalCandidate() const;
  virtual int Send(const char* data, size_t size) = 0;
  virtual int GetError() = 0;

  void Ping(Tick now);
  // `unconfirmed_after_ms` lets the socket judge the connection it sends on sooner.
  void UpdateState(Tick now, int64_t unconfirmed_after_ms = kUnconfirmedAfterMs);
  // A ping has gone unanswered for longer than the round trip lets one take.
  bool HasOverduePing(Tick now) const;
  // When the oldest unanswered ping becomes overdue (meaningful only while there is one).
  Tick OverdueAt() const;
  void ReceivedPing();
  void Prune();
  void OnReadPacket(const char* data, size_t size);
  void SetConnected(bool connected);

  Port* port() const { return port_; }
  const Candidate& remote_candidate() const { return remote_; }
  ReadState read_state() const { return read_state_; }
  WriteState write_state() const { return write_state_; }
  bool connected() const { return connected_; }
  bool pruned() const { return pruned_; }
  uint32_t rtt() const { return rtt_; }
  int rtt_samples() const { return rtt_samples_; }
  Tick last_ping_sent() const { return last_ping_sent_; }
  Tick last_ping_received() const { return last_ping_received_; }
  const std::deque<Tick>& pings_since_last_response() const { return pings_since_last_response_; }
  uint64_t bytes_received() const { return bytes_received_; }
  uint64_t bytes_sent() const { return bytes_sent_; }
  uint32_t received_rate();
  uint32_t sent_rate();

  Signal<Connection*> StateChanged;
  Signal<Connection*> Destroyed;
  Signal<Connection*, const char*, size_t> PacketReceived;

 protected:
  void AddBytesSent(size_t size) { bytes_sent_ += size; }

 private:
  friend class PingTransaction;

  void SetReadState(ReadState state);
  void SetWriteState(WriteState state);
  void OnPingResponse(const StunPacket& response, int rtt);
  void OnPingErrorResponse(const StunPacket& response);
  void OnSendPacket(const char* data, size_t size);
  int64_t PingWindowMs() const;

  Port* port_;
  size_t local_candidate_index_;
  Candidate remote_;
  ReadState read_state_ = STATE_READ_SILENT;
  WriteState write_state_ = STATE_WRITE_UNCONFIRMED;
  bool connected_ = true;
  bool pruned_ = false;
  StunTransactionTable requests_;
  uint32_t rtt_ = 0;
  int rtt_samples_ = 0;
  Tick last_ping_sent_ = 0;
  Tick last_ping_received_ = 0;
  std::deque<Tick> pings_since_last_response_;
  uint64_t bytes_received_ = 0;
  uint64_t bytes_sent_ = 0;
  RateTracker received_rate_;
  RateTracker sent_rate_;
};

}  // namespace vexalo
