#include "xmpp/server/usersetting.h"

#include <memory>

#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

void AppendValue(XmlElem* parent, const XmlName& name, bool value) {
  parent->AppendChild(std::make_unique<XmlElem>(name))
      ->AppendAttribute(kQnValue, value ? "true" : "false");
}

}  // namespace

UserSettingValue UserSetting::ParseValue(std::string_view text) {
  if (text == "false") return UserSettingValue::kFalse;
  if (text == "true") return UserSettingValue::kTrue;
  return UserSettingValue::kOther;
}

std::vector<UserSetting::Entry> UserSetting::ParseAll(const XmlElem& usersetting) {
  std::vector<Entry> entries;
  for (const XmlElem* child = usersetting.FirstChildElement();
       child != nullptr && entries.size() < kMaxEntries; child = child->NextSiblingElement()) {
    entries.emplace_back(child->Name().LocalName(), ParseValue(child->GetAttribute(kQnValue)));
  }
  return entries;
}

std::unique_ptr<XmlElem> UserSetting::MakeSetElement(const UserSettingChanges& changes) {
  auto usersetting = std::make_unique<XmlElem>(kQnUserSetting, true);
  if (changes.auto_accept_suggestions) {
    AppendValue(usersetting.get(), kQnSettingAutoAcceptSuggestions, *changes.auto_accept_suggestions);
  }
  AppendValue(usersetting.get(), kQnSettingAutoAcceptRequests, changes.auto_accept_requests);
  AppendValue(usersetting.get(), kQnSettingMailNotifications, changes.mail_notifications);
  if (changes.archiving_enabled) {
    AppendValue(usersetting.get(), kQnSettingArchivingEnabled, *changes.archiving_enabled);
  }
  return usersetting;
}

}  // namespace vexalo
