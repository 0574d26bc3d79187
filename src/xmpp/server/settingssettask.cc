#include "xmpp/server/settingssettask.h"

#include <memory>

#include "xmpp/stream/constants.h"

namespace vexalo {

SettingsSetTask::SettingsSetTask(StepTaskParent* parent, const UserSettingChanges& changes)
    : StanzaTask(parent, kLevelFirst), changes_(changes) {}

bool SettingsSetTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  QueueStanza(stanza);
  return true;
}

int SettingsSetTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrSet, BoundAddress().WithoutResource(), task_id());
  iq->AppendChild(UserSetting::MakeSetElement(changes_));
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int SettingsSetTask::ProcessResponse() {
  const XmlElem* answer = NextStanza();
  if (answer == nullptr) return STATE_BLOCKED;
  SignalDone(answer->GetAttribute(kQnType) == kStrResult);
  return STATE_DONE;
}

}  // namespace vexalo
