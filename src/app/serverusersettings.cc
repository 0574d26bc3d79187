#include "app/serverusersettings.h"

#include "base/runtime/logging.h"
#include "xmpp/stream/constants.h"
#include "xmpp/server/settingspushtask.h"
#include "xmpp/server/settingsquerytask.h"
#include "xmpp/server/settingssettask.h"
#include "xmpp/stream/xmppconnection.h"

namespace vexalo {
namespace {

// A server answer names a handful of settings; more are not kept.
constexpr size_t kMaxKept = 16;

}  // namespace

ServerUserSettings::ServerUserSettings(XmppConnection* connection) : connection_(connection) {
  auto* push = new SettingsPushTask(connection);
  push->SignalSetting.Connect(this, &ServerUserSettings::OnSetting);
  push->Start();
  auto* query = new SettingsQueryTask(connection);
  query->SignalSetting.Connect(this, &ServerUserSettings::OnSetting);
  query->Start();
}

std::optional<UserSettingValue> ServerUserSettings::Value(const std::string& name) const {
  auto found = values_.find(name);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

void ServerUserSettings::OnSetting(const std::string& name, UserSettingValue value) {
  if (values_.size() >= kMaxKept && values_.count(name) == 0) return;
  values_[name] = value;
}

std::optional<bool> ServerUserSettings::KnownBool(const std::string& name) const {
  std::optional<UserSettingValue> value = Value(name);
  if (!value || *value == UserSettingValue::kOther) return std::nullopt;
  return *value == UserSettingValue::kTrue;
}

bool ServerUserSettings::StoreMailNotifications(bool on) {
  const std::string& mail = kQnSettingMailNotifications.LocalName();
  const UserSettingValue wanted = on ? UserSettingValue::kTrue : UserSettingValue::kFalse;
  if (Value(mail) == wanted) return true;  // the server holds it already
  if (!known()) {
    LOG(kInfo) << "ServerUserSettings - the server's settings are not known; nothing stored";
    return false;
  }
  UserSettingChanges changes;
  changes.auto_accept_suggestions = KnownBool(kQnSettingAutoAcceptSuggestions.LocalName());
  changes.auto_accept_requests =
      KnownBool(kQnSettingAutoAcceptRequests.LocalName()).value_or(false);
  changes.mail_notifications = on;
  changes.archiving_enabled = KnownBool(kQnSettingArchivingEnabled.LocalName());
  values_[mail] = wanted;
  auto* set = new SettingsSetTask(connection_, changes);
  set->SignalDone.Connect(this, [](bool accepted) {
    if (!accepted) LOG(kWarning) << "ServerUserSettings - the server refused the settings";
  });
  set->Start();
  return true;
}

}  // namespace vexalo
