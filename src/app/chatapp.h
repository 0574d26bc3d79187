#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/calluserstate.h"
#include "app/chatapphost.h"
#include "base/runtime/signal.h"
#include "p2p/client/session.h"
#include "session/phone/audiolevels.h"
#include "session/phone/call.h"
#include "session/phone/connectioninfo.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// The coordinator of one contact: at most one call with it, the call-user state the contact
// list and chat window show, and the user's call commands. Main thread only.
class ChatApp : public SlotHost {
 public:
  enum EndReason { kNoReason = 0, kTimedOut = 1, kRefused = 2 };

  ChatApp(ChatAppHost* host, const XmppAddress& contact);
  ~ChatApp() override;
  ChatApp(const ChatApp&) = delete;
  ChatApp& operator=(const ChatApp&) = delete;

  void OnCallCommand();
  void OnAnswerCommand();
  // An incoming call the user turns down.
  void OnRejectCommand();
  void OnHangUpCommand() { SetCallUserState(CUS_CALLABLE); }
  void SetCallUserState(int32_t requested);
  void Mute();
  void Hold();
  void Resume();

  // Takes the call when this coordinator has none (and is not ringing); false otherwise.
  bool AttachCall(Call* call, Session* session);
  void DetachCall(Call* call);
  void OnSessionDestroyed(Session* session);
  void OnContactUpdate();
  void RecomputeCallable();
  // The resource a call goes to; invalid when none offers voice.
  XmppAddress CallTarget() const;

  int32_t state() const { return state_; }
  int end_reason() const { return end_reason_; }
  const XmppAddress& contact() const { return contact_; }
  const XmppAddress& remote_address() const { return remote_; }
  void set_remote_address(const XmppAddress& remote) { remote_ = remote; }
  const XmppAddress& pending_target() const { return pending_target_; }
  Call* call() const { return call_; }
  Session* session() const { return session_; }

  // Quality level 1 (worst) to 5 (best), 0 without a working connection.
  static int QualityLevel(const std::vector<ConnectionInfo>& infos, const ConnectionInfo** best);

  Signal<ChatApp*, int32_t> StateChanged;
  // Round trip in ms, the path ("local", "stun", "relay", "tcp", "ssltcp") and the level.
  Signal<ChatApp*, uint32_t, const std::string&, int> QualityChanged;
  Signal<ChatApp*, const AudioLevels&> LevelsChanged;

 private:
  void SetState(int32_t state);
  // Stops the monitors and forgets the call and the session.
  void Unbind();
  void RecordEndReason(int reason);
  void OnCallSessionState(Call* call, Session* session, Session::State state);
  void OnCallSessionError(Call* call, Session* session, Session::Error error);
  void OnConnectionReport(const std::vector<ConnectionInfo>& infos);

  ChatAppHost* host_;
  XmppAddress contact_;  // bare
  XmppAddress remote_;   // may carry the conversation partner's resource
  XmppAddress pending_target_;
  Call* call_ = nullptr;
  Session* session_ = nullptr;
  int32_t state_ = CUS_NOT_CALLABLE;
  int end_reason_ = kNoReason;
};

}  // namespace vexalo
