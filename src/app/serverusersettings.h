#pragma once

#include <map>
#include <optional>
#include <string>

#include "base/runtime/signal.h"
#include "xmpp/server/usersetting.h"

namespace vexalo {

class XmppConnection;

// The server's copy of the user's settings for one signed-in connection: read when the
// connection opens, kept current from the server's pushes, and written again when the user
// changes the options it mirrors. A server without the service answers the read with an error;
// then nothing is ever written, so values set elsewhere are never overwritten with guesses.
class ServerUserSettings : public SlotHost {
 public:
  explicit ServerUserSettings(XmppConnection* connection);
  ServerUserSettings(const ServerUserSettings&) = delete;
  ServerUserSettings& operator=(const ServerUserSettings&) = delete;

  // True once the server has told its values.
  bool known() const { return !values_.empty(); }
  std::optional<UserSettingValue> Value(const std::string& name) const;

  // Writes the settings with the new-mail notification as given and every other setting as the
  // server holds it; nothing when the server holds that value already. Returns false (and
  // writes nothing) while the server's values are unknown.
  bool StoreMailNotifications(bool on);

 private:
  void OnSetting(const std::string& name, UserSettingValue value);
  std::optional<bool> KnownBool(const std::string& name) const;

  XmppConnection* connection_;
  std::map<std::string, UserSettingValue> values_;
};

}  // namespace vexalo
