#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/runtime/backgroundworker.h"
#include "base/proxy/proxysettings.h"
#include "base/runtime/secrettext.h"
#include "xmpp/stream/constants.h"
#include "xmpp/accounttoken/idmoraauthanswer.h"

namespace vexalo {

class RuleFilteringManager;

// Where the account service is reached: HTTPS to its host, on 443 unless overridden.
struct IdmoraServer {
  std::string host = "www.lettrio.com";
  uint16_t port = 443;
  bool secure = true;

  // "https://host", with ":port" when it is not the scheme's default.
  std::string BaseUrl() const;
  // A "host:port" override. It stays HTTPS; plain HTTP only when `allow_plain_loopback` and
  // the host is the loopback interface (a test server). False for anything unparsable.
  static bool FromOverride(std::string_view host_port, bool allow_plain_loopback,
                           IdmoraServer* server);
};

// What an exchange with the account service needs besides the account.
struct IdmoraSettings {
  IdmoraServer server;
  // A CA trusted for the service besides the process-wide ones (tests); empty: none.
  std::string ca_file;
  // The web-mail service's account domains: accounts of the service's own XMPP domain sign in
  // as node@webmail_domain, and accounts of none of these domains are "HOSTED" ones.
  std::string webmail_domain = std::string(kWebMailDomain);
  std::string webmail_alt_domain = std::string(kWebMailAlternativeDomain);
  std::string user_agent = "Vexalo";
  ProxySettings proxy;
  RuleFilteringManager* simulation = nullptr;  // network simulation rules, if active
  // Per request.
  int timeout_ms = 30000;
};

// The account-token exchange on a worker thread of its own: ClientAuth with the account and
// password (and a captcha answer) for a session, then IssueAuthToken for a token of one
// service. With a stored token it makes no request and reports that token. The owner reads
// outcome() after the completion message (kCompletionMessage).
class IdmoraAuthJob : public BackgroundWorker {
 public:
  static constexpr uint32_t kCompletionMessage = 1956;
  static constexpr std::string_view kClientAuthPath = "/accounts/ClientAuth";
  static constexpr std::string_view kIssueAuthTokenPath = "/accounts/IssueAuthToken";
  static constexpr std::string_view kSource = "vexalo";

  struct Outcome {
    bool done = false;
    bool authorized = false;
    // No definite answer: time-out, transport, proxy or certificate trouble, an unexpected
    // status or a malformed answer. A refusal of the credentials is not an error.
    bool error = true;
    bool proxy_auth_failed = false;
    // The server's certificate is outside its validity period: the clock may be wrong.
    bool certificate_expired = false;
    // The server's certificate was refused for another reason (untrusted, wrong name).
    bool certificate_rejected = false;
    bool fresh_token = false;
    std::string token;
    SecretText sid;
    SecretText lsid;
    CaptchaChallenge challenge;
  };

  // `account` is node@domain; `stored_token` may be empty; an empty `service` stops after
  // the session.
  IdmoraAuthJob(MessageTarget* owner, const IdmoraSettings& settings, std::string account,
                SecretText password, std::string service, std::string stored_token,
                CaptchaAnswer answer);

  // Owner thread, after the completion message.
  Outcome& outcome() { return outcome_; }

  // The ClientAuth form for `account`; the caller wipes it after use.
  static std::string ClientAuthBody(std::string_view account, const SecretText& password,
                                    const CaptchaAnswer& answer, const IdmoraSettings& settings);

 protected:
  ~IdmoraAuthJob() override;
  void DoWork() override;

 private:
  class Transport;
  void SignIn(Transport* transport);
  void IssueToken(Transport* transport);

  IdmoraSettings settings_;
  std::string account_;
  SecretText password_;
  std::string service_;
  CaptchaAnswer answer_;
  Outcome outcome_;
};

}  // namespace vexalo
