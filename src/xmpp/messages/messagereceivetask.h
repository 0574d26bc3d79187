#pragma once

#include "base/runtime/signal.h"
#include "xmpp/messages/chatmessage.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Receives chat messages and typing notifications for as long as the connection lives. Group
// chat and headline messages, and messages of no or "normal" type without a body, are left to
// others. With a peer filter, only messages from that account are taken.
class MessageReceiveTask : public StanzaTask {
 public:
  // The application's general receiver uses kLevelThird.
  MessageReceiveTask(StepTaskParent* parent, HandlerLevel level);

  // Only messages from this account (any resource); kEmptyAddress takes everybody's.
  void SetPeerFilter(const XmppAddress& peer) { peer_filter_ = peer; }
  // Whether messages of type "error" are taken (and reported by SignalErrorMessage).
  void SetAcceptErrors(bool accept) { accept_errors_ = accept; }

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;

  Signal<const ChatMessage&> SignalMessage;
  Signal<const ChatMessage&> SignalErrorMessage;

 private:
  bool Wants(const XmlElem& stanza) const;

  XmppAddress peer_filter_;
  bool accept_errors_ = false;
};

}  // namespace vexalo
