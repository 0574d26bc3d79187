#pragma once

#include <glib.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/linux/startupservices.h"
#include "app/linux/systemsigninlookups.h"
#include "app/serviceprofile.h"
#include "base/runtime/queuedmessage.h"
#include "base/runtime/signal.h"

namespace vexalo {

class AccountList;
class NetworkMonitor;
class PowerMonitor;
class AutostartEntry;
class RegistryFile;
class SecretStore;
class SignInManager;
class EventQueue;
class MailtoHandler;
class PhoneApp;
class SettingsStore;
struct Settings;

// The main window object: owns PhoneApp and the periodic timers, receives hand-overs from
// later starts and reacts to changed options. Without a front end it is headless: "showing"
// and "raising" are events for a user interface to act on.
class PhoneWindow : public MessageTarget, public SlotHost {
 public:
  struct Environment {
    SettingsStore* settings = nullptr;
    StartupServices* services = nullptr;
    AutostartEntry* autostart_entry = nullptr;  // may be null (no desktop integration)
    MailtoHandler* mailto_handler = nullptr;    // may be null
    GMainLoop* loop = nullptr;                  // quit when the window closes; may be null
    EventQueue* queue = nullptr;                // the timers' queue; the main thread's if null
    // Stored accounts and signing in; without a registry there is no signing in (tests of
    // the window alone).
    RegistryFile* registry = nullptr;
    SecretStore* secrets = nullptr;
    std::string root_key;
    ServiceProfile profile = ServiceProfile::Defaults();
    std::string ca_file;
    std::string default_resource;
    // Network and power events; may be null.
    NetworkMonitor* network = nullptr;
    PowerMonitor* power = nullptr;
  };
  struct StartFlags {
    bool autostart = false;
    bool checkupdate = false;
    bool no_account_token = false;
  };

  // Main-window timers, by id, and their periods in milliseconds.
  static constexpr uint32_t kTimerAnimation = 2;
  static constexpr uint32_t kTimerHousekeeping = 3;
  static constexpr uint32_t kTimerUpdateRetry = 5;
  static constexpr uint32_t kTimerKeepAlive = 6;
  static constexpr uint32_t kTimerBackoffReset = 7;
  static constexpr uint32_t kTimerRosterRefresh = 8;
  static constexpr uint32_t kTimerOwnVcard = 9;
  static constexpr uint32_t kTimerMarkerCookie = 10;
  static constexpr uint32_t kTimerRepeatSound = 14;
  static constexpr uint32_t kTimerAudioDevices = 15;
  static constexpr uint32_t kTimerInvitation = 17;
  // Half of the desktops' usual 1200 ms cursor blink cycle; a front end may set its own.
  static constexpr int kAnimationPeriodMs = 600;
  static constexpr int kHousekeepingPeriodMs = 500;
  static constexpr int kUpdateRetryPeriodMs = 60000;
  static constexpr int kKeepAlivePeriodMs = 120000;
  static constexpr int kBackoffResetPeriodMs = 300000;
  static constexpr int kRosterRefreshPeriodMs = 21600000;
  static constexpr int kOwnVcardPeriodMs = 1800000;
  static constexpr int kMarkerCookiePeriodMs = 900000;
  static constexpr int kAudioDevicesDelayMs = 1000;
  static constexpr int kInvitationTimeoutMs = 60000;

  // Creates PhoneApp and connects to SettingsChanged.
  PhoneWindow(const Environment& environment, std::optional<InvitationRecord> invitation,
              StartFlags flags);
  ~PhoneWindow() override;
  PhoneWindow(const PhoneWindow&) = delete;
  PhoneWindow& operator=(const PhoneWindow&) = delete;

  // Creates the main window: starts the timers that run from window creation on.
  bool Create();
  bool IsCreated() const { return created_; }
  // Shows the window (start-up without "/autostart").
  void Show();
  // Brings the window forward (a second start asked for it).
  void Restore();
  // Closes the window and ends the main loop with exit code 0.
  void Close();
  // Takes the window down without touching the loop: stops every timer.
  void Destroy();

  // A record handed over by a later start or request on the hand-over socket. True when
  // handled.
  bool OnHandOver(uint32_t code, const std::string& text);

  void SetTimer(uint32_t id, int period_ms);
  void KillTimer(uint32_t id);
  bool HasTimer(uint32_t id) const { return timers_.count(id) != 0; }

  void HandleMessage(QueuedMessage* msg) override;

  int exit_code() const { return exit_code_; }
  PhoneApp* app() const { return app_.get(); }
  // Null without a registry.
  SignInManager* signin() const { return signin_.get(); }
  AccountList* accounts() const { return accounts_.get(); }
  const StartFlags& flags() const { return flags_; }
  const ServiceProfile& profile() const { return env_.profile; }
  const std::optional<InvitationRecord>& invitation() const { return invitation_; }
  int animation_frame() const { return animation_frame_; }

  // Events for a user interface.
  Signal<> SignalShow;
  Signal<> SignalRestore;
  Signal<int> SignalAnimationFrame;  // the frame counter after each animation tick
  Signal<> SignalHousekeepingTick;
  Signal<> SignalRefresh;            // options changed: refresh window and menus
  Signal<> SignalFontsChanged;       // the UI fonts must be made again
  Signal<> SignalLogOptionsChanged;  // repaint the diagnostic indicator

 private:
  void OnTimer(uint32_t id);
  void OnSettingsChanged(const Settings& old_settings, const Settings& new_settings, int source);
  void OnSettingsChangedDesktop(const Settings& old_settings, const Settings& new_settings,
                                int source);

  Environment env_;
  StartFlags flags_;
  std::optional<InvitationRecord> invitation_;
  std::unique_ptr<PhoneApp> app_;
  std::unique_ptr<AccountList> accounts_;
  SystemSignInLookups lookups_;
  std::unique_ptr<SignInManager> signin_;
  std::map<uint32_t, int> timers_;
  bool created_ = false;
  int exit_code_ = 0;
  int animation_frame_ = 0;
};

}  // namespace vexalo
