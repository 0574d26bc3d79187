#pragma once

#include "base/signal.h"

namespace vexalo {

class PhoneWindow;
class SettingsStore;
struct Settings;

// The application object. It will own the XMPP connection, the session and call objects and
// coordinate them; those come with signing in. Created by PhoneWindow's constructor and
// deleted by its destructor.
class PhoneApp : public SlotHost {
 public:
  PhoneApp(PhoneWindow* window, SettingsStore* settings);
  ~PhoneApp() override;
  PhoneApp(const PhoneApp&) = delete;
  PhoneApp& operator=(const PhoneApp&) = delete;

  // Nothing signs in yet.
  bool IsSignedIn() const { return false; }

  // The user changed the options: while signed in, the server-side copy is stored again.
  void OnUserSettingsChanged(const Settings& old_settings, const Settings& new_settings);

  PhoneWindow* window() const { return window_; }
  SettingsStore* settings() const { return settings_; }

 private:
  PhoneWindow* window_;
  SettingsStore* settings_;
};

}  // namespace vexalo
