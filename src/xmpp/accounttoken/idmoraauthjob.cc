#include "xmpp/accounttoken/idmoraauthjob.h"

#include <algorithm>
#include <charconv>
#include <memory>

#include "base/http/httpclient.h"
#include "base/http/httpsocketfactory.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/http/memorystream.h"
#include "base/net/physicalsocketserver.h"
#include "base/http/reusesocketpool.h"
#include "base/net/rulefilteringhub.h"
#include "base/net/socketaddress.h"
#include "base/runtime/timeutils.h"
#include "xmpp/stream/servicedomains.h"

namespace vexalo {
namespace {

// Form posts carry the password and answers carry session ids and tokens: their buffers are
// wiped when they go.
class WipedMemoryStream : public MemoryStream {
 public:
  using MemoryStream::MemoryStream;
  ~WipedMemoryStream() override {
    const std::string& bytes = data();
    SecureZero(const_cast<char*>(bytes.data()), bytes.size());
  }
};

void Wipe(std::string* text) {
  SecureZero(text->data(), text->size());
  text->clear();
}

bool IsLoopbackHost(std::string_view host) {
  if (host == "localhost") return true;
  uint32_t ip = 0;
  return SocketAddress::StringToIP(std::string(host), &ip) && (ip >> 24) == 127;
}

std::string_view DomainOf(std::string_view account) {
  const size_t at = account.rfind('@');
  return at == std::string_view::npos ? std::string_view() : account.substr(at + 1);
}

std::string_view NodeOf(std::string_view account) {
  const size_t at = account.rfind('@');
  return at == std::string_view::npos ? account : account.substr(0, at);
}

}  // namespace

std::string IdmoraServer::BaseUrl() const {
  std::string url = secure ? "https://" : "http://";
  url += host;
  if (port != (secure ? 443 : 80)) url += ":" + std::to_string(port);
  return url;
}

bool IdmoraServer::FromOverride(std::string_view host_port, bool allow_plain_loopback,
                                IdmoraServer* server) {
  const size_t colon = host_port.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::string_view host = host_port.substr(0, colon);
  const std::string_view digits = host_port.substr(colon + 1);
  unsigned port = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (error != std::errc() || end != digits.data() + digits.size() || port == 0 || port > 65535) {
    return false;
  }
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-';
    if (!ok) return false;
  }
  server->host = std::string(host);
  server->port = static_cast<uint16_t>(port);
  server->secure = !(allow_plain_loopback && IsLoopbackHost(host));
  return true;
}

// The sockets, pool and client of one run, on the job's thread.
class IdmoraAuthJob::Transport : public HttpClientListener {
 public:
  enum Result { kAnswered, kTimedOut, kFailed };

  Transport(const IdmoraSettings& settings, IdmoraAuthJob* job)
      : settings_(settings), job_(job), thread_(Hub()) {
    factory_ = std::make_unique<HttpSocketFactory>(Hub(), settings.proxy, settings.user_agent);
    factory_->SetCaFile(settings.ca_file);
    // Text mode: leaders and headers only, bodies counted but never shown.
    factory_->SetTrafficLog("IdmoraAuth", kVerbose, false);
    pool_ = std::make_unique<ReuseSocketPool>(factory_.get());
    client_ = std::make_unique<HttpClient>(settings.user_agent, pool_.get());
    client_->set_listener(this);
    // The service answers these posts itself; a redirect is not part of the exchange.
    client_->set_fail_redirect(true);
  }
  ~Transport() override {
    // The client goes before the pool, the pool before the factory, all before the hub.
    client_.reset();
    pool_.reset();
    factory_.reset();
  }

  // Posts `body` (wiped here) to `path`; the status and answer text on kAnswered, the HTTP
  // error on kFailed.
  Result Post(std::string_view path, std::string* body, int* status, std::string* text,
              HttpError* error) {
    client_->Reset();
    client_->request().verb = HV_POST;
    client_->request().path = std::string(path);
    client_->request().SetContent("application/x-www-form-urlencoded",
                                  std::make_unique<WipedMemoryStream>(*body));
    Wipe(body);
    auto document = std::make_unique<WipedMemoryStream>();
    document->SetMaxSize(IdmoraAuthAnswer::kMaxBytes);
    client_->response().SetDocument(std::move(document));
    done_ = false;
    error_ = HERR_NONE;
    thread_.Restart();
    client_->Start(settings_.server.host, settings_.server.port, settings_.server.secure);
    const Tick deadline = TickNow() + settings_.timeout_ms;
    // In slices, so that a job whose owner went away ends soon.
    while (!done_ && !job_->IsCancelled()) {
      const int64_t left = TickDiff(deadline, TickNow());
      if (left <= 0) break;
      thread_.RunFor(static_cast<int>(std::min<int64_t>(left, 100)));
    }
    if (!done_) {
      client_->Reset();
      return kTimedOut;
    }
    if (error_ != HERR_NONE) {
      *error = error_;
      return kFailed;
    }
    *status = client_->response().status;
    auto* answer = static_cast<MemoryStream*>(client_->response().document());
    text->assign(answer != nullptr ? answer->data() : std::string());
    client_->response().SetDocument(nullptr);
    return kAnswered;
  }

 private:
  SocketHub* Hub() {
    if (settings_.simulation != nullptr && filtering_ == nullptr) {
      filtering_ = std::make_unique<RuleFilteringHub>(&physical_, false, settings_.simulation);
    }
    return filtering_ != nullptr ? static_cast<SocketHub*>(filtering_.get()) : &physical_;
  }
  void OnHttpClientComplete(HttpClient*, HttpError error) override {
    done_ = true;
    error_ = error;
    thread_.Stop();
  }

  const IdmoraSettings& settings_;
  IdmoraAuthJob* job_;
  PhysicalSocketServer physical_;
  std::unique_ptr<RuleFilteringHub> filtering_;
  AdoptedThread thread_;
  std::unique_ptr<HttpSocketFactory> factory_;
  std::unique_ptr<ReuseSocketPool> pool_;
  std::unique_ptr<HttpClient> client_;
  bool done_ = false;
  HttpError error_ = HERR_NONE;
};

IdmoraAuthJob::IdmoraAuthJob(MessageTarget* owner, const IdmoraSettings& settings,
                             std::string account, SecretText password, std::string service,
                             std::string stored_token, CaptchaAnswer answer)
    : BackgroundWorker(owner, kCompletionMessage),
      settings_(settings),
      account_(std::move(account)),
      password_(std::move(password)),
      service_(std::move(service)),
      answer_(std::move(answer)) {
  outcome_.token = std::move(stored_token);
}

IdmoraAuthJob::~IdmoraAuthJob() {
  Wipe(&outcome_.token);
  Wipe(&answer_.answer);
}

std::string IdmoraAuthJob::ClientAuthBody(std::string_view account, const SecretText& password,
                                          const CaptchaAnswer& answer,
                                          const IdmoraSettings& settings) {
  const std::string_view domain = DomainOf(account);
  std::string name(account);
  // The service's XMPP accounts are web-mail accounts under another name.
  if (IsServiceAccountDomain(domain))
    name = std::string(NodeOf(account)) + "@" + settings.webmail_domain;
  const bool hosted = !IsServiceAccountDomain(domain) && domain != settings.webmail_domain &&
                      domain != settings.webmail_alt_domain;
  std::string body = "Email=" + FormEncode(name) + "&Passwd=";
  {
    ScopedClearText clear(password);
    std::string encoded = FormEncode(std::string_view(clear.data(), clear.size()));
    body += encoded;
    Wipe(&encoded);
  }
  body += "&PersistentCookie=false&source=";
  body += kSource;
  if (hosted) body += "&accountType=HOSTED";
  if (!answer.token.empty()) {
    body += "&logintoken=" + FormEncode(answer.token);
    std::string encoded = FormEncode(answer.answer);
    body += "&logincaptcha=" + encoded;
    Wipe(&encoded);
  }
  return body;
}

void IdmoraAuthJob::DoWork() {
  LOG(kInfo) << "IdmoraAuth Begin";
  if (!outcome_.token.empty()) {
    LOG(kInfo) << "IdmoraAuth reusing the stored auth token";
  } else {
    Transport transport(settings_, this);
    SignIn(&transport);
    if (!outcome_.sid.empty() && !outcome_.lsid.empty()) {
      if (service_.empty()) {
        outcome_.authorized = true;
        outcome_.error = false;
      } else {
        IssueToken(&transport);
      }
    }
  }
  if (!outcome_.token.empty()) {
    outcome_.authorized = true;
    outcome_.error = false;
  }
  outcome_.done = true;
  password_ = SecretText();
}

namespace {

// Logs a failed request and records what the owner must hear about.
void NoteFailure(const char* what, HttpError error, IdmoraAuthJob::Outcome* outcome) {
  LOG(kInfo) << "IdmoraAuth " << what << " error: " << HttpErrorName(error);
  outcome->authorized = false;
  outcome->error = true;
  if (error == HERR_AUTH) outcome->proxy_auth_failed = true;
  if (error == HERR_CERT_EXPIRED) outcome->certificate_expired = true;
  if (error == HERR_CERT) outcome->certificate_rejected = true;
}

}  // namespace

void IdmoraAuthJob::SignIn(Transport* transport) {
  std::string body = ClientAuthBody(account_, password_, answer_, settings_);
  int status = 0;
  std::string text;
  HttpError error = HERR_NONE;
  const Transport::Result result = transport->Post(kClientAuthPath, &body, &status, &text, &error);
  if (result == Transport::kTimedOut) {
    LOG(kInfo) << "IdmoraAuth request timed out";
    return;
  }
  if (result == Transport::kFailed) {
    NoteFailure("request", error, &outcome_);
    return;
  }
  LOG(kInfo) << "IdmoraAuth request to " << kClientAuthPath;
  LOG(kInfo) << "IdmoraAuth Status Code: " << status;
  if (status == 407) {
    // A plain-HTTP proxy (test set-ups only) asking for credentials; its page is no answer.
    Wipe(&text);
    outcome_.proxy_auth_failed = true;
    return;
  }
  IdmoraAuthAnswer answer;
  const bool well_formed = answer.Parse(text);
  Wipe(&text);
  if (!well_formed) {
    LOG(kInfo) << "IdmoraAuth answer is malformed";
    return;
  }
  // Only the error name: the rest of an answer is session ids.
  if (answer.Has("Error")) {
    LOG(kInfo) << "IdmoraAuth answer Error=" << PrintableText(answer.Get("Error"), 64);
  }
  if (status == 403) {
    const std::string reason = answer.Get("Error");
    // The service could not decide: no verdict on the credentials.
    if (reason == "ServiceUnavailable" || reason == "Unknown") return;
    outcome_.challenge = CaptchaChallenge::FromAnswer(answer);
    outcome_.authorized = false;
    outcome_.error = false;
    return;
  }
  if (status != 200) return;
  std::string sid = answer.Get("SID");
  std::string lsid = answer.Get("LSID");
  if (!sid.empty() && !lsid.empty()) {
    outcome_.sid = SecretText::FromClearText(sid);
    outcome_.lsid = SecretText::FromClearText(lsid);
  } else {
    LOG(kInfo) << "IdmoraAuth answer without a session";
  }
  Wipe(&sid);
  Wipe(&lsid);
}

void IdmoraAuthJob::IssueToken(Transport* transport) {
  std::string body = "SID=";
  {
    ScopedClearText sid(outcome_.sid);
    ScopedClearText lsid(outcome_.lsid);
    std::string encoded = FormEncode(std::string_view(sid.data(), sid.size()));
    body += encoded + "&LSID=";
    Wipe(&encoded);
    encoded = FormEncode(std::string_view(lsid.data(), lsid.size()));
    body += encoded;
    Wipe(&encoded);
  }
  body += "&service=" + FormEncode(service_) + "&Session=true";
  int status = 0;
  std::string text;
  HttpError error = HERR_NONE;
  const Transport::Result result =
      transport->Post(kIssueAuthTokenPath, &body, &status, &text, &error);
  if (result == Transport::kTimedOut) {
    LOG(kInfo) << "IdmoraAuth token request timed out";
    return;
  }
  if (result == Transport::kFailed) {
    NoteFailure("token request", error, &outcome_);
    return;
  }
  LOG(kInfo) << "IdmoraAuth token request Status Code: " << status;
  if (status == 407) outcome_.proxy_auth_failed = true;
  if (status == 200) {
    std::string token;
    if (ParseIssuedToken(text, &token)) {
      outcome_.token = std::move(token);
      outcome_.fresh_token = true;
    } else {
      LOG(kInfo) << "IdmoraAuth token answer is malformed";
    }
  }
  Wipe(&text);
}

}  // namespace vexalo
