#include "xmpp/server/settingsquerytask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

SettingsQueryTask::SettingsQueryTask(StepTaskParent* parent) : RequestTask(parent, kStrGet) {}

std::unique_ptr<XmlElem> SettingsQueryTask::MakePayload() {
  return std::make_unique<XmlElem>(kQnUserSetting, true);
}

void SettingsQueryTask::ReadAnswer(const XmlElem& answer) {
  const XmlElem* usersetting = answer.FindChild(kQnUserSetting);
  if (answer.GetAttribute(kQnType) != kStrResult || usersetting == nullptr) return;
  for (const UserSetting::Entry& entry : UserSetting::ParseAll(*usersetting)) {
    SignalSetting(entry.first, entry.second);
  }
}

}  // namespace vexalo
