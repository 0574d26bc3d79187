#pragma once

#include <string>
#include <string_view>

#include "xmpp/stream/acknowledgedsettask.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// Sends one piece of plug-in data to a contact and waits for the acknowledgement, at most 30
// seconds.
class PluginSendTask : public AcknowledgedSetTask {
 public:
  PluginSendTask(StepTaskParent* parent, const XmppAddress& to, std::string_view capability,
                 std::string_view data);

 protected:
  void AddPayload(XmlElem* iq) override;

 private:
  std::string capability_;
  std::string data_;
};

}  // namespace vexalo
