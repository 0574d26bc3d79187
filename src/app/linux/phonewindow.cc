#include "app/linux/phonewindow.h"

#include <cstdio>

#include "app/accountlist.h"
#include "app/phoneapp.h"
#include "app/signinmanager.h"
#include "platform/networkmonitor.h"
#include "platform/powermonitor.h"
#include "app/settingsstore.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/runtime/threadregistry.h"
#include "platform/autostartentry.h"
#include "platform/mailtohandler.h"
#include "platform/runninginstance.h"

namespace vexalo {

namespace {

// Handed-over text comes from another process: one bounded line in the log.
std::string ForLog(const std::string& text) { return PrintableText(text, 2048); }

}  // namespace

PhoneWindow::PhoneWindow(const Environment& environment, std::optional<InvitationRecord> invitation,
                         StartFlags flags)
    : env_(environment), flags_(flags), invitation_(std::move(invitation)) {
  if (!env_.queue) env_.queue = ThreadRegistry::Instance().MainThread();
  app_ = std::make_unique<PhoneApp>(this, env_.settings);
  if (env_.registry != nullptr && env_.secrets != nullptr) {
    app_->UseServicePortAllocator(env_.profile);
    accounts_ = std::make_unique<AccountList>(env_.registry, env_.root_key, env_.secrets);
    accounts_->Load();
    SignInManager::Environment sign_in;
    sign_in.app = app_.get();
    sign_in.lookups = &lookups_;
    sign_in.accounts = accounts_.get();
    sign_in.settings = env_.settings;
    sign_in.profile = env_.profile;
    sign_in.messages = LoginMessages::ForEnvironment();
    sign_in.queue = env_.queue;
    sign_in.ca_file = env_.ca_file;
    sign_in.default_resource = env_.default_resource;
    sign_in.no_account_token = flags_.no_account_token;
    if (NetworkMonitor* network = env_.network) {
      sign_in.network_alive = [network] { return network->IsNetworkAlive(); };
    }
    signin_ = std::make_unique<SignInManager>(std::move(sign_in));
    if (env_.network != nullptr) {
      env_.network->NetworkChanged.Connect(
          this, [this](bool alive) { signin_->OnNetworkChanged(alive); });
    }
    if (env_.power != nullptr) {
      env_.power->Suspending.Connect(this, [this] { signin_->OnSuspending(); });
      env_.power->Resumed.Connect(this, [this] { signin_->OnResumed(); });
    }
  }
  env_.settings->SettingsChanged.Connect(this, &PhoneWindow::OnSettingsChanged);
  env_.settings->SettingsChanged.Connect(this, &PhoneWindow::OnSettingsChangedDesktop);
}

PhoneWindow::~PhoneWindow() {
  Destroy();
  signin_.reset();
  app_.reset();
}

bool PhoneWindow::Create() {
  if (created_) return true;
  created_ = true;
  SetTimer(kTimerAnimation, kAnimationPeriodMs);
  SetTimer(kTimerHousekeeping, kHousekeepingPeriodMs);
  SetTimer(kTimerKeepAlive, kKeepAlivePeriodMs);
  SetTimer(kTimerRosterRefresh, kRosterRefreshPeriodMs);
  SetTimer(kTimerOwnVcard, kOwnVcardPeriodMs);
  LOG(kInfo) << "PhoneWindow::Create - main window created"
             << (flags_.checkupdate ? " (update check requested)" : "");
  return true;
}

void PhoneWindow::Show() {
  LOG(kInfo) << "PhoneWindow::Show";
  SignalShow.Emit();
}

void PhoneWindow::Restore() {
  LOG(kInfo) << "PhoneWindow::Restore - brought forward";
  SignalRestore.Emit();
}

void PhoneWindow::Close() {
  LOG(kInfo) << "PhoneWindow::Close";
  Destroy();
  exit_code_ = 0;
  if (env_.loop) g_main_loop_quit(env_.loop);
}

void PhoneWindow::Destroy() {
  if (!created_) return;
  created_ = false;
  timers_.clear();
  env_.queue->Clear(this);
}

void PhoneWindow::SetTimer(uint32_t id, int period_ms) {
  timers_[id] = period_ms;
  env_.queue->Clear(this, id);
  env_.queue->PostAfter(period_ms, this, id);
}

void PhoneWindow::KillTimer(uint32_t id) {
  timers_.erase(id);
  env_.queue->Clear(this, id);
}

void PhoneWindow::HandleMessage(QueuedMessage* msg) {
  delete msg->payload;
  msg->payload = nullptr;
  auto timer = timers_.find(msg->id);
  if (timer == timers_.end()) return;
  // Periodic, like a window timer: the next tick is due one period after this one ran.
  env_.queue->PostAfter(timer->second, this, msg->id);
  OnTimer(msg->id);
}

void PhoneWindow::OnTimer(uint32_t id) {
  switch (id) {
    case kTimerAnimation:
      ++animation_frame_;
      SignalAnimationFrame.Emit(animation_frame_);
      break;
    case kTimerHousekeeping:
      // Account upkeep, idle tracking, reconnect countdown, token refresh and came-online
      // notices join this tick as signing in and presence arrive.
      if (signin_) signin_->OnHousekeepingTick();
      SignalHousekeepingTick.Emit();
      break;
    case kTimerKeepAlive:  // a space on the XMPP stream
      if (signin_) signin_->OnKeepAliveTick();
      break;
    case kTimerRosterRefresh:  // the roster again
    case kTimerOwnVcard:       // the own vCard again
      // These act only while signed in, and nothing signs in yet.
      break;
    default:
      break;
  }
}

void PhoneWindow::OnSettingsChanged(const Settings& old_settings, const Settings& new_settings,
                                    int source) {
  if (old_settings.autostart != new_settings.autostart && env_.autostart_entry) {
    if (!env_.autostart_entry->Update(new_settings.autostart)) {
      LOG(kWarning) << "PhoneWindow::OnSettingsChanged - autostart entry not updated";
    }
  }
  if (created_) SignalRefresh.Emit();
  // Turning account storage off removes the stored accounts and passwords at once.
  if (signin_ && (old_settings.store_accounts != new_settings.store_accounts ||
                  old_settings.store_passwords != new_settings.store_passwords)) {
    signin_->AccountStorageUpkeep();
  }
  if (!(old_settings == new_settings) && source == kSettingsSourceUser) {
    app_->OnUserSettingsChanged(old_settings, new_settings);
  }
}

void PhoneWindow::OnSettingsChangedDesktop(const Settings& old_settings,
                                           const Settings& new_settings, int) {
  if (old_settings.mailto_is_registered != new_settings.mailto_is_registered &&
      env_.mailto_handler) {
    if (new_settings.mailto_is_registered) {
      std::string previous;
      if (env_.mailto_handler->Register(&previous) && !previous.empty()) {
        Settings record = env_.settings->Current();
        record.mailto_backup_handler = RegValue::String(previous);
        env_.settings->Save(record, kSettingsSourceProgram);
      }
    } else {
      const std::string* previous = new_settings.mailto_backup_handler.AsString();
      env_.mailto_handler->Unregister(previous ? *previous : std::string());
    }
  }
  if (old_settings.FontDiffers(new_settings)) SignalFontsChanged.Emit();
}

bool PhoneWindow::OnHandOver(uint32_t code, const std::string& text) {
  switch (code) {
    case kCopyDataMailto:
      LOG(kInfo) << "PhoneWindow::OnCopyData - mail link of " << text.size() << " bytes";
      LOG(kSensitive) << "PhoneWindow::OnCopyData - mailto [" << ForLog(text) << "]";
      if (!env_.services->OpenMailtoComposePage(text)) {
        LOG(kWarning) << "PhoneWindow::OnCopyData - no web-mail compose page for the link";
      }
      return true;
    case kCopyDataLogOptions:
      LOG(kInfo) << "PhoneWindow::OnCopyData - log options [" << ForLog(text) << "]";
      ApplyLogOptionText(text, env_.services);
      SignalLogOptionsChanged.Emit();
      return true;
    case kInstanceRestore:
      Restore();
      return true;
    case kInstanceClose:
      LOG(kInfo) << "PhoneWindow::OnHandOver - another start asks us to close";
      Close();
      return true;
    case kInstancePing:
      return true;
    default:
      LOG(kWarning) << "PhoneWindow::OnHandOver - unknown code " << code;
      return false;
  }
}

}  // namespace vexalo
