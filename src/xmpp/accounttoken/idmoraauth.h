#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/runtime/queuedmessage.h"
#include "base/runtime/secrettext.h"
#include "base/runtime/signal.h"
#include "xmpp/accounttoken/idmoraauthanswer.h"
#include "xmpp/accounttoken/idmoraauthjob.h"
#include "xmpp/stream/preloginauthenticator.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// The account-token step before the XMPP login: signs in to the account service, obtains a
// token for the mail service (or re-uses a stored one) and then chooses and creates the SASL
// mechanism that presents it. It reports proxy and certificate trouble and every newly issued
// token. Used on one thread; the exchange runs on a worker (IdmoraAuthJob).
class IdmoraAuth : public PreLoginAuthenticator, public MessageTarget {
 public:
  // The service the XMPP login needs a token for.
  static constexpr std::string_view kMailService = "mail";

  // What the step holds that a mechanism could present.
  struct Held {
    bool token = false;
    bool session = false;
    bool password = false;
  };
  // The mechanism for a login with `held`: the token mechanism, else the cookie mechanism,
  // else PLAIN for an account outside the service's own domain; never any of them on an
  // unencrypted stream. Empty when none fits.
  static std::string Choose(const std::vector<std::string>& offered, bool encrypted,
                            const XmppAddress& user, const Held& held);

  explicit IdmoraAuth(const IdmoraSettings& settings);
  ~IdmoraAuth() override;
  IdmoraAuth(const IdmoraAuth&) = delete;
  IdmoraAuth& operator=(const IdmoraAuth&) = delete;

  // Before starting: the answer to the challenge of the previous attempt.
  void SetCaptchaAnswer(CaptchaAnswer answer) { captcha_answer_ = std::move(answer); }

  // PreLoginAuthenticator. The server address is not used: the account service is fixed by
  // the settings.
  void StartPreLogin(const XmppAddress& user, const SocketAddress& server,
                     const SecretText& password, const SecretText& stored_token) override;
  bool IsAuthDone() const override { return done_; }
  bool IsAuthorized() const override { return done_ && authorized_; }
  bool HadError() const override { return done_ && error_; }
  // The serialized CaptchaChallenge.
  std::string GetCaptchaChallenge() const override;
  std::string GetAuthCookie() const override;
  std::string ChooseMechanism(const std::vector<std::string>& offered, bool encrypted) override;
  std::unique_ptr<AuthMechanism> CreateMechanism(std::string_view name) override;

  // Starts the exchange for `service` without a stored token (an empty service stops after
  // the session). Started once; a second start is ignored.
  void StartAuth(const XmppAddress& user, const SecretText& password, std::string_view service);

  // Done with a token: the address that opens `continue_url` in the browser with the account
  // signed in; empty otherwise. Carries the token: never log it.
  std::string TokenAuthUrl(std::string_view continue_url, std::string_view service) const;
  // The full address of a challenge's image on the account service.
  std::string CaptchaImageUrl(const CaptchaChallenge& challenge) const;
  const CaptchaChallenge& challenge() const { return challenge_; }

  // Raised just before SignalAuthDone, in this order, when they apply.
  Signal<const std::string&> SignalFreshToken;
  Signal<> SignalProxyAuthRequired;
  // The service's certificate is outside its validity period: the computer's clock may be
  // wrong.
  Signal<> SignalCertificateExpired;
  // The service's certificate was refused for another reason (untrusted, wrong name).
  Signal<> SignalCertificateRejected;

  // MessageTarget
  void HandleMessage(QueuedMessage* msg) override;

 private:
  void Start(const XmppAddress& user, const SecretText& password, std::string_view service,
             std::string stored_token);

  IdmoraSettings settings_;
  CaptchaAnswer captcha_answer_;
  IdmoraAuthJob* job_ = nullptr;
  bool started_ = false;
  bool done_ = false;
  bool authorized_ = false;
  bool error_ = false;
  XmppAddress user_;
  SecretText password_;
  std::string token_;
  SecretText sid_;
  CaptchaChallenge challenge_;
};

}  // namespace vexalo
