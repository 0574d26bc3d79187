#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/accountlist.h"
#include "app/connectionattempt.h"
#include "app/loginmessages.h"
#include "app/reconnectbackoff.h"
#include "app/serviceprofile.h"
#include "app/signinclient.h"
#include "app/signinlookups.h"
#include "app/signinsink.h"
#include "base/runtime/queuedmessage.h"
#include "base/runtime/signal.h"

namespace vexalo {

class AccountStorageJob;

class IdmoraAuth;
class EventQueue;
class SettingsStore;

// Decides how and when the client signs in: turns the active account into an ordered list of
// connection attempts (detected proxy, resolved server addresses), tries them one after the
// other, tells the user what failed, waits and reconnects with a growing, randomised delay,
// keeps the stream alive, and follows suspend, resume and the network. Main thread only.
class SignInManager : public SignInSink, public MessageTarget, public SlotHost {
 public:
  struct Environment {
    // The application object (PhoneApp) and where proxy and server answers come from.
    SignInClient* app = nullptr;
    SignInLookups* lookups = nullptr;
    AccountList* accounts = nullptr;
    SettingsStore* settings = nullptr;
    ServiceProfile profile = ServiceProfile::Defaults();
    LoginMessages messages = LoginMessages(LoginMessages::Language::kEnglish);
    EventQueue* queue = nullptr;  // timers; the main thread's when null
    // Monotonic milliseconds; the jitter source (0..32767); the network check; idleness.
    std::function<int64_t()> now_ms;
    ReconnectBackoff::Random random;
    std::function<bool()> network_alive;
    std::function<bool()> user_idle;
    // Extra CA certificates for private servers.
    std::string ca_file;
    std::string default_resource;
    // No account-service token exchange (the "/noidmoraauth" switch).
    bool no_account_token = false;
  };

  static constexpr uint32_t kTimerBackoffReset = 7;
  // The accounts were stored on the storage thread.
  static constexpr uint32_t kMsgAccountsStored = 1001;
  static constexpr int kBackoffResetPeriodMs = 300000;

  explicit SignInManager(Environment environment);
  ~SignInManager() override;

  // The sign-in request from the sign-in page (or a console command): the active account with
  // this password (empty: the stored one) and server override (empty: keep).
  void SignIn(const std::string& jid, const SecretText& password, const std::string& server_host,
              uint16_t server_port);
  void SignOut();
  // The 500 ms housekeeping tick and the keep-alive tick.
  void OnHousekeepingTick();
  void OnKeepAliveTick();
  void OnSuspending();
  void OnResumed();
  // The network went away (a signed-in connection would only time out much later) or came
  // back (an attempt follows soon, whatever the delay).
  void OnNetworkChanged(bool alive);
  // Store the accounts anew (after a settings change, before sign-in).
  // Stores the accounts on a thread of their own (never blocking this one).
  void AccountStorageUpkeep();
  // Blocks until the store under way (if any) is written: for shutdown and tests.
  void WaitForAccountStorage();
  // Whether a store is under way or due.
  bool storing_accounts() const { return storage_job_ != nullptr || storage_again_; }

  LoginState login_state() const { return state_; }
  const ConnectionList& connection_list() const { return list_; }
  const ReconnectBackoff& backoff() const { return backoff_; }
  const std::string& captcha_challenge() const { return captcha_challenge_; }
  void SetCaptchaAnswer(const std::string& answer) { captcha_answer_ = answer; }

  // SignInSink
  void SetLoginState(LoginState state) override;
  void OnSignedIn(const XmppAddress& bound) override;
  void OnSignedOut() override;
  void OnConnectionLost(EngineError error, bool conflict) override;
  void HandleConnectionError(EngineError error, const std::string& captcha) override;
  void OnProxyAuthenticationRequired() override { proxy_auth_required_ = true; }

  void HandleMessage(QueuedMessage* msg) override;

  // For the user interface.
  Signal<LoginState> SignalLoginState;
  // The status line.
  Signal<const std::string&> SignalStatus;
  // An error to show prominently (a dialog in a window); `retry` offers trying again.
  Signal<const std::string&, bool> SignalError;
  Signal<> SignalShowSignInPage;

 private:
  void BuildConnectionListAndLogin();
  void ResetConnectionList();
  void OnProxyDetect(ProxyDetector* detector);
  void OnServerTargets(const std::vector<SocketAddress>& addresses, uint32_t sequence);
  void OnSrvDone(ServerLookup* lookup);
  void LoginAccountAndConnectionSetting();
  void HandleConnectionPasswordError(const std::string& captcha);
  // The account service's token step for web-mail accounts, reporting to us.
  std::unique_ptr<IdmoraAuth> MakeAccountAuthenticator(const ProxySettings& proxy);
  void OnFreshToken(const std::string& token);
  void RefreshTokenIfDue();
  void ResetBackoff();
  void Status(int message, long number = -1);
  // The words for a failed or lost connection; 0 when the status line says enough.
  int FailureMessage(EngineError error) const;
  Account* ActiveAccount();
  bool IsServiceAccount() const;
  int64_t Now() const { return env_.now_ms(); }
  void StopDetection();

  Environment env_;
  // Jitter for the back-off and the token renewal (0..32767).
  ReconnectBackoff::Random random_;
  ReconnectBackoff backoff_;
  LoginState state_ = LoginState::kSignedOut;
  ConnectionList list_;
  size_t index_ = 0;
  bool have_list_ = false;
  ProxySettings detected_proxy_;
  ProxyDetector* detector_ = nullptr;
  ServerLookup* srv_lookup_ = nullptr;
  uint32_t sequence_ = 0;
  AccountStorageJob* storage_job_ = nullptr;
  bool storage_again_ = false;
  void OnAccountsStored();
  bool proxy_auth_required_ = false;
  // The account service's certificate was out of its validity: most likely our clock is off.
  bool clock_suspect_ = false;
  // When the token is next renewed while signed in (0: not planned), and the step doing it.
  int64_t next_token_refresh_ms_ = 0;
  std::unique_ptr<IdmoraAuth> token_refresher_;
  bool fresh_token_ = false;
  bool suspended_ = false;
  bool signing_out_ = false;
  std::string captcha_challenge_;
  std::string captcha_answer_;
};

}  // namespace vexalo
