#include "xmpp/messages/messagereceivetask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

MessageReceiveTask::MessageReceiveTask(StepTaskParent* parent, HandlerLevel level)
    : StanzaTask(parent, level) {}

bool MessageReceiveTask::Wants(const XmlElem& stanza) const {
  if (stanza.Name() != kQnMessage) return false;
  const std::string& type = stanza.GetAttribute(kQnType);
  if (type == "groupchat" || type == "headline") return false;
  if (type == kStrError && !accept_errors_) return false;
  // A chat message without body is a typing notification; other kinds need a body.
  if ((type.empty() || type == "normal") && stanza.FindChild(kQnBody) == nullptr) return false;
  if (peer_filter_ != kEmptyAddress) {
    if (!stanza.HasAttribute(kQnFrom)) return false;
    if (!XmppAddress(stanza.GetAttribute(kQnFrom)).SameAccount(peer_filter_)) return false;
  }
  return true;
}

bool MessageReceiveTask::HandleStanza(const XmlElem& stanza) {
  if (!Wants(stanza)) return false;
  QueueStanza(stanza);
  return true;
}

int MessageReceiveTask::ProcessStart() {
  while (const XmlElem* stanza = NextStanza()) {
    const ChatMessage message = ChatMessage::Parse(*stanza);
    if (message.type == kStrError) {
      SignalErrorMessage(message);
    } else {
      SignalMessage(message);
    }
  }
  return STATE_BLOCKED;
}

}  // namespace vexalo
