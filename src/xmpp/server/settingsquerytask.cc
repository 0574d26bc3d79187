#include "xmpp/server/settingsquerytask.h"

#include <memory>

#include "xmpp/stream/constants.h"

namespace vexalo {

SettingsQueryTask::SettingsQueryTask(StepTaskParent* parent) : StanzaTask(parent, kLevelFirst) {}

bool SettingsQueryTask::HandleStanza(const XmlElem& stanza) {
  // Asked of our own bare address, so our server answers: from it or without a "from".
  if (!MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  QueueStanza(stanza);
  return true;
}

int SettingsQueryTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrGet, BoundAddress().WithoutResource(), task_id());
  iq->AppendChild(std::make_unique<XmlElem>(kQnUserSetting, true));
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int SettingsQueryTask::ProcessResponse() {
  const XmlElem* answer = NextStanza();
  if (answer == nullptr) return STATE_BLOCKED;
  const XmlElem* usersetting = answer->FindChild(kQnUserSetting);
  if (answer->GetAttribute(kQnType) == kStrResult && usersetting != nullptr) {
    for (const UserSetting::Entry& entry : UserSetting::ParseAll(*usersetting)) {
      SignalSetting(entry.first, entry.second);
    }
  }
  return STATE_DONE;
}

}  // namespace vexalo
