#include "xmpp/server/callnotifytask.h"

#include <memory>

#include "xmpp/stream/constants.h"

namespace vexalo {

CallNotifyTask::CallNotifyTask(StepTaskParent* parent, const XmppAddress& listener,
                               const XmppAddress& peer, std::string_view type)
    : AcknowledgedSetTask(parent, listener), peer_(peer), type_(type) {}

void CallNotifyTask::AddPayload(XmlElem* iq) {
  XmlElem* notification =
      iq->AppendChild(std::make_unique<XmlElem>(kQnPhoneCallNotification, true));
  notification->AppendAttribute(kQnJid, peer_.ToString());
  notification->AppendAttribute(kQnType, type_);
}

}  // namespace vexalo
