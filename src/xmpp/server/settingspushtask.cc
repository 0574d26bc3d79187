#include "xmpp/server/settingspushtask.h"

#include <memory>

#include "base/runtime/logging.h"
#include "xmpp/stream/constants.h"
#include "xmpp/stream/serverpush.h"

namespace vexalo {

SettingsPushTask::SettingsPushTask(StepTaskParent* parent) : StanzaTask(parent, kLevelFirst) {}

bool SettingsPushTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchRequestIq(stanza, kStrSet, kQnUserSetting)) return false;
  if (!ServerPush::IsFromOwnServerOrAccount(stanza, BoundAddress())) {
    LOG(kWarning) << "SettingsPushTask::HandleStanza - push from "
                  << stanza.GetAttribute(kQnFrom) << " refused";
    return false;
  }
  QueueStanza(stanza);
  return true;
}

int SettingsPushTask::ProcessStart() {
  while (const XmlElem* push = NextStanza()) {
    std::unique_ptr<XmlElem> ack = MakeIqResult(*push);
    ack->AppendChild(std::make_unique<XmlElem>(kQnUserSetting, true));
    SendStanza(*ack);
    for (const UserSetting::Entry& entry : UserSetting::ParseAll(*push->FindChild(kQnUserSetting))) {
      SignalSetting(entry.first, entry.second);
    }
  }
  return STATE_BLOCKED;
}

}  // namespace vexalo
