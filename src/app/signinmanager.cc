#include "app/signinmanager.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "app/accountauthserver.h"
#include "app/accountstoragejob.h"
#include "app/settingsstore.h"
#include "base/net/dnslookuptask.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/runtime/threadregistry.h"
#include "base/runtime/timeutils.h"
#include "xmpp/accounttoken/idmoraauth.h"

namespace vexalo {
namespace {

SecretText ToSecret(const ProtectedString& text) {
  std::string plain = text.Plain();
  SecretText secret = SecretText::FromClearText(plain);
  WipeString(&plain);
  return secret;
}

}  // namespace

SignInManager::SignInManager(Environment environment)
    : env_(std::move(environment)),
      random_(env_.random ? env_.random : MakeJitterSource()),
      backoff_(random_) {
  if (env_.queue == nullptr) env_.queue = ThreadRegistry::Current();
  if (!env_.now_ms) env_.now_ms = [] { return TickNow(); };
  if (!env_.network_alive) env_.network_alive = [] { return true; };
  if (!env_.user_idle) env_.user_idle = [] { return false; };
  env_.app->SetSignInSink(this);
  backoff_.Reset(env_.user_idle(), Now());
}

SignInManager::~SignInManager() {
  // The store's thread uses the file and the secret store, which go with us.
  WaitForAccountStorage();
  if (storage_job_ != nullptr) storage_job_->Release();
  token_refresher_.reset();
  StopDetection();
  env_.queue->Clear(this);
  env_.app->SetSignInSink(nullptr);
}

void SignInManager::StopDetection() {
  if (detector_ != nullptr) {
    detector_->SignalDetected.Disconnect(this);
    detector_->Dispose();
    detector_ = nullptr;
  }
  if (srv_lookup_ != nullptr) {
    srv_lookup_->SignalDone.Disconnect(this);
    srv_lookup_->Dispose();
    srv_lookup_ = nullptr;
  }
}

Account* SignInManager::ActiveAccount() {
  if (env_.accounts->active().empty()) return nullptr;
  return &env_.accounts->Find(env_.accounts->active());
}

bool SignInManager::IsServiceAccount() const {
  const XmppAddress jid(env_.accounts->active());
  return env_.profile.IsServiceDomain(jid.DomainPart()) ||
         env_.profile.IsWebMailDomain(jid.DomainPart());
}

void SignInManager::Status(int message, long number) {
  SignalStatus(number >= 0 ? env_.messages.Text(message, number) : env_.messages.Text(message));
}

void SignInManager::SignIn(const std::string& jid, const SecretText& password,
                           const std::string& server_host, uint16_t server_port) {
  const XmppAddress address(jid);
  if (!address.IsValid() || address.NodePart().empty()) {
    SignalError(env_.messages.Text(kMsgNotAnAddress), false);
    return;
  }
  const std::string bare = address.WithoutResource().ToString();
  env_.accounts->SetActive(bare);
  Account& account = env_.accounts->Find(bare);
  if (address.HasResource()) account.resource = address.ResourcePart();
  if (!password.empty()) {
    ScopedClearText clear(password);
    std::string text(clear.data(), clear.size());
    account.password = ProtectedString::FromPlain(&text);
    account.remember_password = true;
  }
  if (!server_host.empty()) {
    account.server_host = server_host;
    account.server_port = server_port;
  }
  // Sign-in request: a fresh start. A renewal still under way (perhaps for another account)
  // must not store its token into this one.
  token_refresher_.reset();
  env_.queue->Clear(this, kTimerBackoffReset);
  backoff_.Reset(env_.user_idle(), Now());
  AccountStorageUpkeep();
  BuildConnectionListAndLogin();
}

void SignInManager::SignOut() {
  LOG(kInfo) << "SignInManager::SignOut";
  if (Account* account = ActiveAccount()) account->token.clear();
  // A renewal that came back later would store the token again.
  token_refresher_.reset();
  env_.queue->Clear(this, kTimerBackoffReset);
  backoff_.Reset(env_.user_idle(), Now());
  StopDetection();
  ++sequence_;
  if (env_.app->HasConnection()) {
    env_.app->Logout();
  } else {
    SetLoginState(LoginState::kSignedOut);
  }
}

void SignInManager::AccountStorageUpkeep() {
  // One store at a time, in order: a request meanwhile stores the list as it is then.
  if (storage_job_ != nullptr) {
    storage_again_ = true;
    return;
  }
  const Settings& settings = env_.settings->Current();
  storage_job_ = new AccountStorageJob(this, kMsgAccountsStored, env_.queue, *env_.accounts,
                                       settings.store_accounts, settings.store_passwords);
  storage_job_->Start();
}

void SignInManager::OnAccountsStored() {
  AccountStorageJob* job = storage_job_;
  storage_job_ = nullptr;
  if (job == nullptr) return;
  env_.accounts->TakeStoredNames(job->accounts());
  const bool saved = job->saved();
  job->Release();
  if (!saved) {
    // A full disk or a read-only folder: the user should know the account is not kept.
    SignalError(env_.messages.Text(kMsgSettingsNotSaved, env_.accounts->file_path()), false);
  }
  if (storage_again_) {
    storage_again_ = false;
    AccountStorageUpkeep();
  }
}

void SignInManager::WaitForAccountStorage() {
  while (storage_job_ != nullptr && !storage_job_->IsDone()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void SignInManager::ResetConnectionList() {
  LOG(kVerbose) << "PhoneWindow::ResetConnectionList";
  if (detector_ != nullptr || srv_lookup_ != nullptr) {
    StopDetection();
    ++sequence_;
  }
  list_.clear();
  have_list_ = false;
  index_ = 0;
  fresh_token_ = false;
  proxy_auth_required_ = false;
  clock_suspect_ = false;
}

void SignInManager::BuildConnectionListAndLogin() {
  LOG(kVerbose) << "PhoneWindow::BuildConnectionListAndLogin";
  ResetConnectionList();
  Account* account = ActiveAccount();
  if (account == nullptr) return;
  const Settings& settings = env_.settings->Current();
  ProxyOptions options;
  options.autodetect = settings.autodetect_proxy;
  options.host = settings.proxy_host;
  options.port = static_cast<uint16_t>(settings.proxy_port > 0 && settings.proxy_port <= 65535
                                           ? settings.proxy_port
                                           : 0);
  options.use_auth = settings.use_proxy_auth;
  if (settings.use_proxy_auth) {
    options.username = settings.proxy_username;
    options.password = ToSecret(settings.proxy_password);
  }
  const XmppAddress jid(account->jid);
  const std::string server_host = !account->server_host.empty() ? account->server_host
                                  : IsServiceAccount()         ? env_.profile.xmpp_host
                                                               : jid.DomainPart();
  const uint16_t server_port =
      account->server_port != 0 ? static_cast<uint16_t>(account->server_port) : env_.profile.xmpp_port;
  SocketAddress server(server_host, server_port, false);
  if (options.autodetect && (server.IsLoopbackIP() || server_host == "localhost")) {
    // The system's configuration never sends a server on this machine through a proxy
    // (every bypass list starts with it): asking it would only cost time. A proxy that the
    // user named by hand is used as asked.
    options = ProxyOptions();
    options.autodetect = false;
  }
  detector_ = env_.lookups->NewProxyDetector(options, server);
  detector_->SignalDetected.Connect(this, &SignInManager::OnProxyDetect);
  // Without anything to detect, the answer comes before Start returns.
  detector_->Start();
}

void SignInManager::OnProxyDetect(ProxyDetector* detector) {
  if (detector != detector_) return;
  LOG(kVerbose) << "PhoneWindow::OnProxyDetect";
  detected_proxy_ = detector_->proxy();
  detector_->SignalDetected.Disconnect(this);
  detector_->Dispose();
  detector_ = nullptr;
  const uint32_t sequence = ++sequence_;
  Account* account = ActiveAccount();
  if (account == nullptr) return;
  const XmppAddress jid(account->jid);
  if (!account->server_host.empty()) {
    const uint16_t port =
        account->server_port != 0 ? static_cast<uint16_t>(account->server_port) : 5222;
    OnServerTargets({SocketAddress(account->server_host, port, false)}, sequence);
  } else if (IsServiceAccount()) {
    auto* lookup = new DNSLookupTask(
        env_.app->task_parent(),
        SocketAddress(env_.profile.xmpp_host, env_.profile.xmpp_port, false), sequence);
    lookup->Resolved.Connect(this, [this](const std::vector<uint32_t>& addresses, uint16_t port,
                                          int, uint32_t tag) {
      std::vector<SocketAddress> targets;
      for (uint32_t ip : addresses) {
        SocketAddress address(env_.profile.xmpp_host, port, false);
        address.SetResolvedIP(ip);
        targets.push_back(address);
      }
      OnServerTargets(targets, tag);
    });
    lookup->Start();
  } else {
    srv_lookup_ = env_.lookups->NewServerLookup(jid.DomainPart());
    srv_lookup_->SignalDone.Connect(this, &SignInManager::OnSrvDone);
    srv_lookup_->Start();
  }
}

void SignInManager::OnSrvDone(ServerLookup* lookup) {
  if (lookup != srv_lookup_) return;
  std::vector<SocketAddress> targets = srv_lookup_->targets();
  srv_lookup_->SignalDone.Disconnect(this);
  srv_lookup_->Dispose();
  srv_lookup_ = nullptr;
  if (targets.empty()) {
    targets.emplace_back(XmppAddress(env_.accounts->active()).DomainPart(), 5222, false);
  }
  OnServerTargets(targets, sequence_);
}

void SignInManager::OnServerTargets(const std::vector<SocketAddress>& addresses,
                                    uint32_t sequence) {
  LOG(kVerbose) << "PhoneWindow::OnDNSResolved("
                << (addresses.empty() ? std::string("<empty>") : addresses[0].ToString()) << ", "
                << sequence << ")";
  if (sequence != sequence_) return;
  const Account* account = ActiveAccount();
  if (account == nullptr) return;
  list_ = IsServiceAccount() && account->server_host.empty()
              ? BuildServiceConnectionList(addresses, env_.profile.xmpp_host,
                                           env_.profile.xmpp_port, env_.profile.ssltcp_port,
                                           detected_proxy_)
              : BuildServerConnectionList(addresses, detected_proxy_);
  have_list_ = true;
  index_ = 0;
  if (list_.empty()) {
    HandleConnectionError(EngineError::kNoConnectionList, "");
    return;
  }
  LoginAccountAndConnectionSetting();
}

void SignInManager::LoginAccountAndConnectionSetting() {
  LOG(kVerbose) << "PhoneWindow::LoginAccountAndConnectionSetting";
  Account* account = ActiveAccount();
  if (account == nullptr || index_ >= list_.size()) return;
  const XmppAddress jid(account->jid);
  LoginSettings settings;
  settings.account = jid;
  settings.resource = !account->resource.empty() ? account->resource : env_.default_resource;
  settings.password = ToSecret(account->password);
  settings.token = SecretText::FromClearText(account->token);
  settings.tls_required = account->tls_required;
  settings.attempt = list_[index_];
  settings.ca_file = env_.ca_file;
  // The token step serves the web-mail accounts only; other servers know nothing of it.
  if (!env_.no_account_token && env_.profile.IsWebMailDomain(jid.DomainPart())) {
    settings.authenticator = MakeAccountAuthenticator(settings.attempt.proxy);
  }
  const ConnectionAttempt& attempt = settings.attempt;
  LOG(kInfo) << "*** Attempting " << ConnectionAttempt::ProtocolName(attempt.protocol)
             << " connection to " << attempt.server.ToString() << " (via "
             << ProxyToString(attempt.proxy.type) << " proxy @ " << attempt.proxy.address.ToString()
             << ")";
  env_.app->Login(std::move(settings));
}

std::unique_ptr<IdmoraAuth> SignInManager::MakeAccountAuthenticator(const ProxySettings& proxy) {
  IdmoraSettings settings;
  settings.server.host = env_.profile.account_host;
  if (!AccountAuthServer::Get().empty() &&
      !IdmoraServer::FromOverride(AccountAuthServer::Get(), false, &settings.server)) {
    LOG(kWarning) << "Ignoring an unusable account server override";
  }
  settings.ca_file = env_.ca_file;
  settings.webmail_domain = env_.profile.webmail_domain;
  settings.webmail_alt_domain = env_.profile.webmail_alt_domain;
  settings.proxy = proxy;
  auto authenticator = std::make_unique<IdmoraAuth>(settings);
  if (!captcha_challenge_.empty() && !captcha_answer_.empty()) {
    // The answer goes with the next attempt only.
    authenticator->SetCaptchaAnswer(
        {CaptchaChallenge::Parse(captcha_challenge_).token, captcha_answer_});
    captcha_challenge_.clear();
    captcha_answer_.clear();
  }
  authenticator->SignalFreshToken.Connect(this, &SignInManager::OnFreshToken);
  authenticator->SignalProxyAuthRequired.Connect(this, [this] { proxy_auth_required_ = true; });
  authenticator->SignalCertificateExpired.Connect(this, [this] { clock_suspect_ = true; });
  return authenticator;
}

void SignInManager::OnFreshToken(const std::string& token) {
  fresh_token_ = true;
  if (Account* account = ActiveAccount()) account->token = token;
  // Renewed after five to ten days, spread so that clients do not come all at once.
  const int64_t r1 = random_();
  const int64_t r2 = random_();
  next_token_refresh_ms_ = Now() + 5LL * 24 * 3600 * 1000 + (r1 % 7200) * 60 * 1000 + (r2 % 1000) * 60;
}

void SignInManager::RefreshTokenIfDue() {
  if (env_.no_account_token || next_token_refresh_ms_ == 0 || Now() < next_token_refresh_ms_ ||
      !env_.app->HasConnection() || !have_list_ || index_ >= list_.size()) {
    return;
  }
  next_token_refresh_ms_ = Now() + 24LL * 3600 * 1000;
  Account* account = ActiveAccount();
  if (account == nullptr) return;
  const XmppAddress jid(account->jid);
  if (!env_.profile.IsWebMailDomain(jid.DomainPart())) return;
  LOG(kInfo) << "Renewing the account token";
  token_refresher_ = MakeAccountAuthenticator(list_[index_].proxy);
  token_refresher_->StartAuth(jid, ToSecret(account->password), "mail");
}

void SignInManager::SetLoginState(LoginState state) {
  state_ = state;
  switch (state) {
    case LoginState::kSignedOut:
      ResetConnectionList();
      Status(kMsgOffline);
      SignalShowSignInPage();
      break;
    case LoginState::kConnecting:
      Status(kMsgConnecting);
      break;
    case LoginState::kAuthenticating:
      Status(kMsgSigningIn);
      break;
    case LoginState::kWaitingToReconnect:
      env_.queue->Clear(this, kTimerBackoffReset);
      backoff_.StartWaiting(Now());
      Status(kMsgReconnecting);
      break;
    case LoginState::kSignedIn:
      break;
  }
  SignalLoginState(state);
}

void SignInManager::OnSignedIn(const XmppAddress& bound) {
  Account* account = ActiveAccount();
  if (account != nullptr) {
    account->resource = bound.ResourcePart();
    account->known_good = true;
    AccountStorageUpkeep();
  }
  if (backoff_.delay_ms() > ReconnectBackoff::kResetOnSignInAboveMs) {
    backoff_.Reset(env_.user_idle(), Now());
  } else {
    env_.queue->Clear(this, kTimerBackoffReset);
    env_.queue->PostAfter(kBackoffResetPeriodMs, this, kTimerBackoffReset);
  }
  state_ = LoginState::kSignedIn;
  SignalStatus(env_.messages.Text(kMsgSignedIn, bound.WithoutResource().ToString()));
  SignalLoginState(LoginState::kSignedIn);
}

void SignInManager::OnSignedOut() {
  // Signed out for a suspend: the reconnect waits for the resume.
  if (suspended_ && state_ == LoginState::kWaitingToReconnect) return;
  SetLoginState(LoginState::kSignedOut);
}

int SignInManager::FailureMessage(EngineError error) const {
  switch (error) {
    case EngineError::kTimedOut:
      return kMsgTimedOut;
    case EngineError::kTlsFailed:
      return kMsgTlsFailed;
    case EngineError::kXmlError:
      switch (env_.app->last_xml_error()) {
        case XmlErrorKind::kStanzaTooLarge:
          return kMsgStanzaTooLarge;
        case XmlErrorKind::kRestrictedXml:
          return kMsgRestrictedXml;
        default:
          return kMsgBadXml;
      }
    case EngineError::kBadStreamHeader:
      return kMsgBadXml;
    case EngineError::kBoundElsewhere:
      return kMsgBoundElsewhere;
    case EngineError::kOutOfOrder:
      return kMsgOutOfOrder;
    case EngineError::kStreamErrorReceived:
      return kMsgServerStreamError;
    case EngineError::kStreamClosed:
      return kMsgServerClosed;
    case EngineError::kAuthFailed:
      return kMsgAuthenticationFailed;
    case EngineError::kBindFailed:
      return kMsgInternalServerError;
    case EngineError::kConnectionClosed:
    case EngineError::kNoConnectionList:
      return kMsgNoConnection;
    case EngineError::kNone:
    case EngineError::kAuthRejected:
      break;
  }
  return 0;
}

void SignInManager::OnConnectionLost(EngineError error, bool conflict) {
  LOG(kInfo) << "Connection lost: " << EngineErrorName(error);
  if (conflict) {
    // Another sign-in with our resource: reconnecting would only throw that one out.
    SetLoginState(LoginState::kSignedOut);
    SignalError(env_.messages.Text(kMsgSignedInElsewhere), false);
    return;
  }
  // Not at once: a server that drops every new connection must not be hammered.
  SetLoginState(LoginState::kWaitingToReconnect);
  const int message =
      error == EngineError::kConnectionClosed ? kMsgConnectionLost : FailureMessage(error);
  if (message != 0) SignalError(env_.messages.Text(message), true);
}

void SignInManager::HandleConnectionError(EngineError error, const std::string& captcha) {
  LOG(kVerbose) << "PhoneWindow::HandleConnectionError";
  if (error == EngineError::kAuthRejected) {
    HandleConnectionPasswordError(captcha);
    return;
  }
  if (!have_list_) return;
  ++index_;
  if (index_ < list_.size()) {
    LoginAccountAndConnectionSetting();
    return;
  }
  if (proxy_auth_required_) {
    SetLoginState(LoginState::kSignedOut);
    SignalError(env_.messages.Text(kMsgProxyAuthRequired), true);
    return;
  }
  if (clock_suspect_) {
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    char stamp[64] = {};
    strftime(stamp, sizeof(stamp), "%H:%M:%S %d.%m.%Y [%z]", &local);
    LOG(kInfo) << "CheckClock @ " << stamp;
    backoff_.Reset(env_.user_idle(), Now());
    SetLoginState(LoginState::kSignedOut);
    SignalError(env_.messages.Text(kMsgClockExplanation), true);
    return;
  }
  LOG(kInfo) << "Connection failed with error " << static_cast<int>(error);
  const int message = FailureMessage(error);
  Account* account = ActiveAccount();
  if (account != nullptr && account->known_good && env_.settings->Current().autorecon) {
    SetLoginState(LoginState::kWaitingToReconnect);
    // "Reconnecting..." says enough while the server is merely unreachable; anything else
    // (a time-out, no TLS, bad XML, a wrong address) is said, or the user never learns why.
    const bool unreachable = error == EngineError::kConnectionClosed ||
                             error == EngineError::kNoConnectionList;
    if (message != 0 && !unreachable) SignalError(env_.messages.Text(message), true);
    return;
  }
  SetLoginState(LoginState::kSignedOut);
  if (message == 0) {
    Status(kMsgSignInFailed);
  } else {
    SignalError(env_.messages.Text(message), true);
  }
}

void SignInManager::HandleConnectionPasswordError(const std::string& captcha) {
  LOG(kVerbose) << "PhoneWindow::HandleConnectionPasswordError";
  Account* account = ActiveAccount();
  if (account == nullptr) return;
  std::string token;
  token.swap(account->token);
  if (!token.empty() && !fresh_token_) {
    // An old stored token was refused: the same attempt again, with the password.
    LoginAccountAndConnectionSetting();
    return;
  }
  SetLoginState(LoginState::kSignedOut);
  if (!captcha.empty()) {
    captcha_challenge_ = captcha;
    Status(kMsgAccountLocked);
    return;
  }
  account->password.Clear();
  account->remember_password = false;
  account->known_good = false;
  AccountStorageUpkeep();
  SignalError(env_.messages.Text(kMsgWrongPassword), false);
}

void SignInManager::OnHousekeepingTick() {
  if (state_ == LoginState::kSignedIn) RefreshTokenIfDue();
  if (state_ != LoginState::kWaitingToReconnect) return;
  const ReconnectBackoff::Step step =
      backoff_.Tick(Now(), env_.network_alive(), suspended_, env_.user_idle());
  switch (step.action) {
    case ReconnectBackoff::Step::kSuspended:
      Status(step.message);
      return;
    case ReconnectBackoff::Step::kAttemptNow:
      BuildConnectionListAndLogin();
      return;
    case ReconnectBackoff::Step::kWait:
      Status(step.message, step.message == kMsgReconnectingNow ? -1 : step.number);
      return;
  }
}

void SignInManager::OnKeepAliveTick() { env_.app->SendKeepAlive(); }

void SignInManager::OnSuspending() {
  suspended_ = true;
  if (state_ == LoginState::kSignedOut) return;
  StopDetection();
  ++sequence_;
  SetLoginState(LoginState::kWaitingToReconnect);
  if (env_.app->HasConnection()) env_.app->Logout();
}

void SignInManager::OnNetworkChanged(bool alive) {
  LOG(kInfo) << "Network " << (alive ? "available" : "gone");
  if (alive) {
    // The next housekeeping tick sees it come back and brings the attempt forward.
    return;
  }
  if (state_ == LoginState::kSignedOut || state_ == LoginState::kWaitingToReconnect) return;
  StopDetection();
  ++sequence_;
  env_.app->Abandon();
  SetLoginState(LoginState::kWaitingToReconnect);
}

void SignInManager::OnResumed() {
  suspended_ = false;
  backoff_.Reset(env_.user_idle(), Now());
}

void SignInManager::HandleMessage(QueuedMessage* msg) {
  if (msg->id == kMsgAccountsStored) OnAccountsStored();
  delete msg->payload;
  msg->payload = nullptr;
  if (msg->id == kTimerBackoffReset) backoff_.Reset(env_.user_idle(), Now());
}

}  // namespace vexalo
