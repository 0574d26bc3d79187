#include "xmpp/accounttoken/idmoraauth.h"

#include <algorithm>

#include "base/runtime/backgroundworker.h"
#include "base/runtime/logging.h"
#include "xmpp/stream/plainmechanismchooser.h"
#include "xmpp/stream/saslcredentialmechanism.h"
#include "xmpp/stream/servicedomains.h"

namespace vexalo {
namespace {

bool Offered(const std::vector<std::string>& offered, std::string_view name) {
  return std::find(offered.begin(), offered.end(), name) != offered.end();
}

// The account as the user typed it: node@domain without a resource.
std::string AccountText(const XmppAddress& user) {
  return XmppAddress(user.NodePart(), user.DomainPart(), "").ToString();
}

}  // namespace

std::string IdmoraAuth::Choose(const std::vector<std::string>& offered, bool encrypted,
                               const XmppAddress& user, const Held& held) {
  // Tokens, session cookies and passwords are never sent in clear, whatever the server.
  if (!encrypted) return {};
  if (held.token && Offered(offered, kMechanismToken)) return std::string(kMechanismToken);
  if (held.session && Offered(offered, kMechanismCookie)) return std::string(kMechanismCookie);
  // The service's own accounts sign in with what the account service issued, never with the
  // password itself.
  if (held.password && Offered(offered, kMechanismPlain) &&
      !IsServiceAccountDomain(user.DomainPart())) {
    return std::string(kMechanismPlain);
  }
  return {};
}

IdmoraAuth::IdmoraAuth(const IdmoraSettings& settings) : settings_(settings) {}

IdmoraAuth::~IdmoraAuth() {
  if (job_ != nullptr) {
    // A running exchange ends early and frees itself; it reports to nobody.
    job_->Cancel();
    job_->Release();
    job_ = nullptr;
  }
  SecureZero(token_.data(), token_.size());
  SecureZero(captcha_answer_.answer.data(), captcha_answer_.answer.size());
}

void IdmoraAuth::StartPreLogin(const XmppAddress& user, const SocketAddress& /*server*/,
                               const SecretText& password, const SecretText& stored_token) {
  std::string token;
  if (!stored_token.empty()) {
    ScopedClearText clear(stored_token);
    token.assign(clear.data(), clear.size());
  }
  Start(user, password, kMailService, std::move(token));
}

void IdmoraAuth::StartAuth(const XmppAddress& user, const SecretText& password,
                           std::string_view service) {
  Start(user, password, service, std::string());
}

void IdmoraAuth::Start(const XmppAddress& user, const SecretText& password,
                       std::string_view service, std::string stored_token) {
  if (started_) {
    LOG(kWarning) << "IdmoraAuth started twice; the second start is ignored";
    return;
  }
  started_ = true;
  user_ = user;
  password_ = password;
  job_ = new IdmoraAuthJob(this, settings_, AccountText(user), password, std::string(service),
                           std::move(stored_token), captcha_answer_);
  // A job that cannot get a thread still posts its completion, not done: reported as an error.
  job_->Start();
}

void IdmoraAuth::HandleMessage(QueuedMessage* msg) {
  if (msg->id != IdmoraAuthJob::kCompletionMessage) {
    delete msg->payload;
    return;
  }
  std::unique_ptr<WorkerCompletion> completion = msg->TakePayload<WorkerCompletion>();
  if (job_ == nullptr || completion == nullptr || completion->worker() != job_) return;

  IdmoraAuthJob::Outcome& outcome = job_->outcome();
  done_ = true;
  if (outcome.done) {
    authorized_ = outcome.authorized;
    error_ = outcome.error;
    token_ = outcome.token;
    sid_ = outcome.sid;
    challenge_ = outcome.challenge;
  } else {
    LOG(kWarning) << "IdmoraAuth could not run its exchange";
    authorized_ = false;
    error_ = true;
  }
  const bool fresh = outcome.done && outcome.fresh_token;
  const bool proxy_auth = outcome.proxy_auth_failed;
  const bool expired = outcome.certificate_expired;
  const bool rejected = outcome.certificate_rejected;
  job_->Release();
  job_ = nullptr;
  completion.reset();

  if (fresh) SignalFreshToken(token_);
  if (proxy_auth) SignalProxyAuthRequired();
  if (expired) SignalCertificateExpired();
  if (rejected) SignalCertificateRejected();
  SignalAuthDone();
}

std::string IdmoraAuth::GetCaptchaChallenge() const {
  return done_ && !authorized_ ? challenge_.Serialize() : std::string();
}

std::string IdmoraAuth::GetAuthCookie() const {
  return done_ && authorized_ ? token_ : std::string();
}

std::string IdmoraAuth::ChooseMechanism(const std::vector<std::string>& offered, bool encrypted) {
  // Until the exchange is over there is nothing to present.
  if (!done_ || !authorized_) return {};
  Held held;
  held.token = !token_.empty();
  held.session = !sid_.empty();
  held.password = !password_.empty();
  return Choose(offered, encrypted, user_, held);
}

std::unique_ptr<AuthMechanism> IdmoraAuth::CreateMechanism(std::string_view name) {
  if (!done_ || !authorized_) return nullptr;
  if (name == kMechanismToken && !token_.empty()) {
    return std::make_unique<SaslCredentialMechanism>(kMechanismToken, AccountText(user_),
                                                     SecretText::FromClearText(token_));
  }
  if (name == kMechanismCookie && !sid_.empty()) {
    return std::make_unique<SaslCredentialMechanism>(kMechanismCookie, AccountText(user_), sid_);
  }
  if (name == kMechanismPlain && !password_.empty() &&
      !IsServiceAccountDomain(user_.DomainPart())) {
    return std::make_unique<SaslCredentialMechanism>(kMechanismPlain, PlainAuthIdentity(user_),
                                                     password_);
  }
  return nullptr;
}

std::string IdmoraAuth::TokenAuthUrl(std::string_view continue_url,
                                     std::string_view service) const {
  if (!done_ || token_.empty()) return {};
  return settings_.server.BaseUrl() + "/accounts/TokenAuth?auth=" + FormEncode(token_) +
         "&service=" + FormEncode(service) + "&continue=" + FormEncode(continue_url) +
         "&source=" + std::string(IdmoraAuthJob::kSource);
}

std::string IdmoraAuth::CaptchaImageUrl(const CaptchaChallenge& challenge) const {
  if (!challenge.required()) return {};
  return settings_.server.BaseUrl() + challenge.image_path;
}

}  // namespace vexalo
