#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/signal.h"
#include "xmpp/stanzatask.h"
#include "xmpp/xmppaddress.h"

namespace vexalo {

// Tells one of the user's other clients (one that asked with "phone-call-notify-listen")
// about a call: connected, disconnected or incoming. Ends on the answer or after 30 seconds.
class CallNotifyTask : public StanzaTask {
 public:
  static constexpr int64_t kTimeout100ns = 300'000'000;  // 30 s

  // `type` is one of kStrPhoneCallConnected, kStrPhoneCallDisconnected,
  // kStrPhoneCallIncoming.
  CallNotifyTask(StepTaskParent* parent, const XmppAddress& listener, const XmppAddress& peer,
                 std::string_view type);

  void SetTimeout(int64_t timeout_100ns) { timeout_ = timeout_100ns; }

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;
  void Poll() override;

  // True when the listener acknowledged, false on an error answer or the time-out.
  Signal<bool> SignalDone;

 private:
  XmppAddress listener_;
  XmppAddress peer_;
  std::string type_;
  int64_t timeout_ = kTimeout100ns;
};

}  // namespace vexalo
