#include "xmpp/server/settingssettask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

SettingsSetTask::SettingsSetTask(StepTaskParent* parent, const UserSettingChanges& changes)
    : RequestTask(parent, kStrSet), changes_(changes) {}

std::unique_ptr<XmlElem> SettingsSetTask::MakePayload() {
  return UserSetting::MakeSetElement(changes_);
}

void SettingsSetTask::ReadAnswer(const XmlElem& answer) {
  SignalDone(answer.GetAttribute(kQnType) == kStrResult);
}

}  // namespace vexalo
