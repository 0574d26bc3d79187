#include "xmpp/roster/subscriptionsender.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

SubscriptionSender::SubscriptionSender(StepTaskParent* parent) : StanzaTask(parent, kLevelNone) {}

std::unique_ptr<XmlElem> SubscriptionSender::MakeSubscription(std::string_view type,
                                                              const XmppAddress& to) {
  auto presence = std::make_unique<XmlElem>(kQnPresence);
  presence->AppendAttribute(kQnType, type);
  presence->AppendAttribute(kQnTo, to.ToString());
  return presence;
}

std::unique_ptr<XmlElem> SubscriptionSender::MakeSubscribe(const XmppAddress& to,
                                                           std::string_view name,
                                                           std::string_view body,
                                                           std::string_view lang) {
  std::unique_ptr<XmlElem> presence = MakeSubscription(kStrSubscribe, to);
  if (name.empty() && body.empty()) return presence;
  XmlElem* invitation =
      presence->AppendChild(std::make_unique<XmlElem>(kQnSubscribeInvitation, true));
  if (!name.empty()) {
    invitation->AppendChild(std::make_unique<XmlElem>(kQnSubscribeName))->AppendText(name);
  }
  if (!body.empty()) {
    XmlElem* elem = invitation->AppendChild(std::make_unique<XmlElem>(kQnSubscribeBody));
    if (!lang.empty()) elem->AppendAttribute(kQnXmlLang, lang);
    elem->AppendText(body);
  }
  return presence;
}

void SubscriptionSender::Subscribe(const XmppAddress& to, std::string_view name,
                                   std::string_view body, std::string_view lang) {
  outgoing_.push_back(MakeSubscribe(to, name, body, lang));
}

void SubscriptionSender::Subscribe(const XmppAddress& to) {
  outgoing_.push_back(MakeSubscription(kStrSubscribe, to));
}

void SubscriptionSender::Unsubscribe(const XmppAddress& to) {
  outgoing_.push_back(MakeSubscription(kStrUnsubscribe, to));
}

void SubscriptionSender::Subscribed(const XmppAddress& to) {
  outgoing_.push_back(MakeSubscription(kStrSubscribed, to));
}

void SubscriptionSender::Unsubscribed(const XmppAddress& to) {
  outgoing_.push_back(MakeSubscription(kStrUnsubscribed, to));
}

int SubscriptionSender::ProcessStart() {
  for (const std::unique_ptr<XmlElem>& stanza : outgoing_) {
    if (SendStanza(*stanza) != EngineResult::kOk) return STATE_ERROR;
  }
  outgoing_.clear();
  return STATE_DONE;
}

}  // namespace vexalo
