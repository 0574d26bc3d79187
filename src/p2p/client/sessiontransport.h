#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "p2p/base/candidate.h"
#include "p2p/client/p2psocket.h"
#include "p2p/client/portallocator.h"

namespace vexalo {

// The P2P sockets of one session. The sockets live on the worker thread; the session talks to
// them from the signalling thread only through this object's messages. Local candidates are
// held back until the session may signal them.
class SessionTransport : public MessageTarget, public SlotHost {
 public:
  enum MessageId : uint32_t {
    kCreateSocket = 1,      // worker, synchronous
    kDestroySocket = 2,     // worker, synchronous
    kSignalingReady = 3,    // worker
    kFlushCandidates = 4,   // signalling
    kRemoteCandidates = 5,  // worker
    kRequestSignaling = 6,  // signalling
    kResetSockets = 7,      // worker
    kWritableChanged = 8,   // signalling
  };
  static constexpr size_t kMaxSockets = 8;
  // Remote candidates for a channel not made here yet, kept until it is.
  static constexpr size_t kMaxHeldCandidates = 128;

  // `worker` may be the signalling queue itself (everything then runs on one thread).
  SessionTransport(EventQueue* signaling, EventQueue* worker, PortAllocator* allocator);
  ~SessionTransport() override;
  SessionTransport(const SessionTransport&) = delete;
  SessionTransport& operator=(const SessionTransport&) = delete;

  void HandleMessage(QueuedMessage* msg) override;

  // Signalling thread. Null when the session has as many sockets as it may.
  P2PSocket* CreateP2PSocket(const std::string& name);
  void DestroyP2PSocket(P2PSocket* socket);
  void AllowCandidates();
  void OnRemoteCandidates(const std::vector<Candidate>& candidates);
  void OnSignalingReady();
  void ResetSockets();

  bool any_writable() const { return any_writable_; }
  bool candidates_allowed() const { return candidates_allowed_; }

  // All three on the signalling thread.
  Signal<const std::vector<Candidate>&> CandidatesReady;
  Signal<> WritableChanged;
  Signal<> RequestSignaling;

 private:
  struct SocketRequest {
    std::string name;
    P2PSocket* socket = nullptr;
  };

  // Runs a message on the worker and returns once it has run.
  void InvokeOnWorker(uint32_t id, MessagePayload* payload);
  void OnSocketCandidates(P2PSocket* socket, const std::vector<Candidate>& candidates);
  void OnSocketState(P2PSocket* socket, P2PSocket::State state);
  void OnSocketRequestSignaling(P2PSocket* socket);
  void FlushCandidates();
  void DestroyAllSockets();

  EventQueue* signaling_;
  EventQueue* worker_;
  PortAllocator* allocator_;
  std::vector<P2PSocket*> sockets_;  // worker thread only
  // The peer may signal a channel's candidates before our side made that channel (a callee
  // makes its sockets when the call is set up): they wait here. Worker thread only.
  std::vector<Candidate> held_candidates_;
  std::mutex lock_;
  std::vector<Candidate> pending_;  // guarded by lock_
  std::atomic<bool> candidates_allowed_{false};
  std::atomic<bool> any_writable_{false};
};

}  // namespace vexalo
