#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/accountlist.h"
#include "app/linux/proxydetect.h"
#include "app/linux/systemsigninlookups.h"
#include "app/loginmessages.h"
#include "app/phoneapp.h"
#include "app/settingsstore.h"
#include "app/signinmanager.h"
#include "base/runtime/loopthread.h"
#include "base/runtime/threadregistry.h"
#include "base/runtime/timeutils.h"
#include "platform/memorysecretstore.h"
#include "platform/registryfile.h"
#include "support/logcapture.h"
#include "support/testfiles.h"

namespace vexalo {

// What the sign-in peer tests share: a real PhoneApp over stores of the test's own (a settings
// file in a temporary folder, secrets in memory), no proxy configuration from the machine, a
// sign-in manager like the main window's whose signals are recorded, and a loop pump that
// drives the manager's housekeeping tick.
class SignInPeerFixture : public ::testing::Test, public SlotHost {
 protected:
  static constexpr char kRoot[] = "Software\\Ombrix\\Vexalo";
  static constexpr char kResource[] = "peers";

  explicit SignInPeerFixture(LogSeverity log_severity = kInfo) : log_(log_severity) {
    SetFirefoxDefaultBrowserOverride(false);
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      unsetenv(name);
    }
    Settings record = settings_.Current();
    record.autodetect_proxy = false;
    settings_.Save(record, kSettingsSourceUser);
  }
  ~SignInPeerFixture() override {
    manager_.reset();
    SetFirefoxDefaultBrowserOverride(std::nullopt);
  }

  // A manager like the main window's, with jitter 0 (the first reconnect waits 5 s), on the
  // clock `now_ms`.
  void MakeManager(
      const std::string& ca_file, std::function<int64_t()> now_ms = [] { return TickNow(); }) {
    // One manager at a time is PhoneApp's sink.
    manager_.reset();
    SignInManager::Environment env;
    env.app = &app_;
    env.lookups = &lookups_;
    env.accounts = &accounts_;
    env.settings = &settings_;
    env.queue = ThreadRegistry::Current();
    env.now_ms = std::move(now_ms);
    env.random = [] { return 0; };
    env.ca_file = ca_file;
    env.default_resource = kResource;
    manager_ = std::make_unique<SignInManager>(std::move(env));
    Watch(manager_.get());
  }

  // Records the manager's signals. `tick`: the test drives the housekeeping tick (the main
  // window's own timer does not run in tests).
  void Watch(SignInManager* manager, bool tick = true) {
    watched_ = manager;
    tick_ = tick;
    manager->SignalLoginState.Connect(this, [this](LoginState state) {
      states_.push_back(state);
      state_times_.push_back(TickNow());
    });
    manager->SignalStatus.Connect(this,
                                  [this](const std::string& text) { statuses_.push_back(text); });
    manager->SignalError.Connect(this, [this](const std::string& text, bool retry) {
      errors_.push_back(text);
      retry_offered_.push_back(retry);
    });
  }

  // Runs the thread's loop with the 500 ms housekeeping tick until `done` or `limit_ms`.
  bool Pump(const std::function<bool()>& done, int limit_ms = 20000) {
    LoopThread* self = ThreadRegistry::Current();
    const Tick start = TickNow();
    Tick next_tick = start + 500;
    while (!done()) {
      const Tick now = TickNow();
      if (now - start > limit_ms) return false;
      if (now >= next_tick) {
        if (tick_) watched_->OnHousekeepingTick();
        next_tick += 500;
      }
      self->RunFor(5);
    }
    return true;
  }
  void PumpFor(int ms) {
    const Tick end = TickNow() + ms;
    Pump([&] { return TickNow() >= end; }, ms + 1000);
  }
  bool PumpUntilState(LoginState state, int limit_ms = 20000) {
    return Pump([&] { return watched_->login_state() == state; }, limit_ms);
  }

  std::string Text(int id) const { return messages_.Text(id); }

  LogCapture log_;
  TempDir dir_;
  RegistryFile registry_{dir_.path() + "/config/vexalo/settings.ini"};
  MemorySecretStore secrets_;
  SettingsStore settings_{&registry_, kRoot, &secrets_};
  PhoneApp app_{nullptr, &settings_};
  SystemSignInLookups lookups_;
  AccountList accounts_{&registry_, kRoot, &secrets_};
  LoginMessages messages_{LoginMessages::Language::kEnglish};
  std::unique_ptr<SignInManager> manager_;
  SignInManager* watched_ = nullptr;
  bool tick_ = true;

  std::vector<LoginState> states_;
  std::vector<Tick> state_times_;
  std::vector<std::string> statuses_;
  std::vector<std::string> errors_;
  std::vector<bool> retry_offered_;
};

}  // namespace vexalo
