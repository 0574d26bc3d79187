#include "xmpp/messages/chatmessage.h"

#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

XmppAddress AddressAttribute(const XmlElem& stanza, const XmlName& name) {
  if (!stanza.HasAttribute(name)) return kEmptyAddress;
  return XmppAddress(stanza.GetAttribute(name));
}

}  // namespace

ChatMessage ChatMessage::Parse(const XmlElem& stanza) {
  ChatMessage message;
  message.to = AddressAttribute(stanza, kQnTo);
  message.from = AddressAttribute(stanza, kQnFrom);
  message.type = stanza.GetAttribute(kQnType);
  message.lang = stanza.GetAttribute(kQnXmlLang);
  message.id = stanza.GetAttribute(kQnId);
  message.thread = stanza.ChildText(kQnThread);
  if (const XmlElem* body = stanza.FindChild(kQnBody)) {
    message.has_body = true;
    message.body = body->OnlyText();
  }
  if (const XmlElem* state = stanza.FindChildInNamespace(kNsChatStates)) {
    message.chat_state = ChatStateFromName(state->Name());
  }
  return message;
}

std::unique_ptr<XmlElem> ChatMessage::Build() const {
  auto stanza = std::make_unique<XmlElem>(kQnMessage);
  if (from != kEmptyAddress) stanza->AppendAttribute(kQnFrom, from.ToString());
  stanza->AppendAttribute(kQnTo, to.ToString());
  if (!id.empty()) stanza->AppendAttribute(kQnId, id);
  if (!lang.empty()) stanza->AppendAttribute(kQnXmlLang, lang);
  if (!type.empty()) stanza->AppendAttribute(kQnType, type);
  if (!thread.empty())
    stanza->AppendChild(std::make_unique<XmlElem>(kQnThread))->AppendText(thread);
  if (has_body) stanza->AppendChild(std::make_unique<XmlElem>(kQnBody))->AppendText(body);
  if (const XmlName* state = ChatStateElementName(chat_state)) {
    stanza->AppendChild(std::make_unique<XmlElem>(*state, true));
  }
  return stanza;
}

}  // namespace vexalo
