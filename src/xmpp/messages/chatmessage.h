#pragma once

#include <memory>
#include <string>

#include "xml/xmlelem.h"
#include "xmpp/messages/chatstate.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// A message stanza as the chat windows see it: addresses, body, thread and typing state.
struct ChatMessage {
  XmppAddress to;
  XmppAddress from;
  std::string id;
  std::string type;  // "chat", "normal", "error", ...; empty when absent
  std::string lang;  // xml:lang
  std::string body;
  // A body element is present (or is to be written, possibly empty).
  bool has_body = false;
  std::string thread;
  ChatState chat_state = ChatState::kNone;

  // Reads any message stanza; missing parts stay empty. Addresses that do not parse are
  // kEmptyAddress.
  static ChatMessage Parse(const XmlElem& stanza);
  // A <message> with "from" (when set), "to", "id", xml:lang, "type", then thread, body and
  // the chat-state element.
  std::unique_ptr<XmlElem> Build() const;
};

}  // namespace vexalo
