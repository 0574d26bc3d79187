#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "p2p/client/sessiondescription.h"
#include "p2p/client/sessionid.h"
#include "p2p/client/sessionmessage.h"
#include "p2p/client/sessionresponse.h"
#include "p2p/client/sessiontransport.h"

namespace vexalo {

// One negotiated relationship with one remote party, driven by session messages. Runs on the
// signalling thread; its sockets live on the worker through its transport.
class Session : public MessageTarget, public SlotHost {
 public:
  enum State {
    STATE_INIT = 0,
    STATE_SENTINITIATE = 1,
    STATE_RECEIVEDINITIATE = 2,
    STATE_SENTACCEPT = 3,
    STATE_RECEIVEDACCEPT = 4,
    STATE_SENTMODIFY = 5,
    STATE_RECEIVEDMODIFY = 6,
    STATE_SENTREJECT = 7,
    STATE_RECEIVEDREJECT = 8,
    STATE_SENTREDIRECT = 9,
    STATE_SENTTERMINATE = 10,
    STATE_RECEIVEDTERMINATE = 11,
    STATE_INPROGRESS = 12,
  };
  enum Error { ERROR_NONE = 0, ERROR_TIME = 1, ERROR_RESPONSE = 2 };
  enum MessageId : uint32_t { kTimeoutMessage = 1, kErrorMessage = 2, kStateMessage = 3 };

  // A peer learns every candidate a few times over; a session that is sent more is flooded.
  static constexpr size_t kMaxRemoteCandidates = 128;
  // Each redirect sends a new initiate: two sides redirecting to each other must not loop.
  static constexpr int kMaxRedirects = 3;

  Session(const std::string& client_name, const SessionId& id, EventQueue* signaling,
          EventQueue* worker, PortAllocator* allocator, int timeout_s);
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  static const char* StateName(State state);

  void HandleMessage(QueuedMessage* msg) override;

  bool Initiate(const std::string& remote_jid,
                std::shared_ptr<const SessionDescription> description);
  bool Accept(std::shared_ptr<const SessionDescription> description);
  bool Reject();
  bool Terminate();
  P2PSocket* CreateP2PSocket(const std::string& name);
  void DestroyP2PSocket(P2PSocket* socket);
  // The registry has checked that the message is this session's and from its peer.
  void OnIncomingMessage(const SessionMessage& message);
  void OnSignalingReady() { transport_->OnSignalingReady(); }
  void SetError(Error error);

  const SessionId& id() const { return id_; }
  const std::string& client_name() const { return client_name_; }
  const std::string& remote_name() const { return remote_name_; }
  bool initiator() const { return initiator_; }
  State state() const { return state_; }
  Error error() const { return error_; }
  const std::shared_ptr<const SessionDescription>& local_description() const {
    return local_description_;
  }
  const std::shared_ptr<const SessionDescription>& remote_description() const {
    return remote_description_;
  }
  const std::string& redirect_target() const { return redirect_target_; }
  SessionTransport* transport() const { return transport_.get(); }

  Signal<Session*, State> StateChanged;
  Signal<Session*, Error> ErrorChanged;
  Signal<Session*, const SessionMessage&> OutgoingMessage;
  Signal<Session*, const SessionResponse&> SendResponse;
  Signal<Session*> RequestSignaling;
  // The session reached a terminate state; its owner destroys it.
  Signal<Session*> Ended;

 private:
  void SetState(State state);
  void SendMessage(SessionMessage::Type type, const std::vector<Candidate>& candidates,
                   const XmlElem* cookie);
  void Acknowledge(const SessionMessage& message, SessionResponse::Kind kind);
  void RestartTimeout();
  void ApplyWritability();
  void OnLocalCandidates(const std::vector<Candidate>& candidates);
  void OnStateMessage();

  std::string client_name_;
  SessionId id_;
  EventQueue* signaling_;
  int timeout_ms_;
  std::string remote_name_;
  bool initiator_ = false;
  std::shared_ptr<const SessionDescription> local_description_;
  std::shared_ptr<const SessionDescription> remote_description_;
  std::string redirect_target_;
  State state_ = STATE_INIT;
  Error error_ = ERROR_NONE;
  size_t remote_candidates_ = 0;
  int redirects_ = 0;
  std::unique_ptr<SessionTransport> transport_;
};

}  // namespace vexalo
