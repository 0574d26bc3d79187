#pragma once

#include <string>
#include <string_view>

#include "xmpp/stream/acknowledgedsettask.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// Tells one of the user's other clients (one that asked with "phone-call-notify-listen")
// about a call: connected, disconnected or incoming. Ends on the answer or after 30 seconds.
class CallNotifyTask : public AcknowledgedSetTask {
 public:
  // `type` is one of kStrPhoneCallConnected, kStrPhoneCallDisconnected,
  // kStrPhoneCallIncoming.
  CallNotifyTask(StepTaskParent* parent, const XmppAddress& listener, const XmppAddress& peer,
                 std::string_view type);

 protected:
  void AddPayload(XmlElem* iq) override;

 private:
  XmppAddress peer_;
  std::string type_;
};

}  // namespace vexalo
