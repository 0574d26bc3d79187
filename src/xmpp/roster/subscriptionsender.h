#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Sends the subscription presences queued on it, in order, when it runs, and ends.
class SubscriptionSender : public StanzaTask {
 public:
  explicit SubscriptionSender(StepTaskParent* parent);

  // A request with an invitation text: the name the user gives themselves and a message in
  // language `lang` (each left out when empty).
  void Subscribe(const XmppAddress& to, std::string_view name, std::string_view body,
                 std::string_view lang);
  void Subscribe(const XmppAddress& to);
  void Unsubscribe(const XmppAddress& to);
  void Subscribed(const XmppAddress& to);
  void Unsubscribed(const XmppAddress& to);

  int ProcessStart() override;

  // <presence type="TYPE" to="ADDRESS"/>, for callers that send it another way (after a
  // roster change).
  static std::unique_ptr<XmlElem> MakeSubscription(std::string_view type, const XmppAddress& to);
  static std::unique_ptr<XmlElem> MakeSubscribe(const XmppAddress& to, std::string_view name,
                                                std::string_view body, std::string_view lang);

 private:
  std::vector<std::unique_ptr<XmlElem>> outgoing_;
};

}  // namespace vexalo
