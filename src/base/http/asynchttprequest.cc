#include "base/http/asynchttprequest.h"

#include <algorithm>

#include "base/proxy/httpauthenticate.h"
#include "base/http/httpclient.h"
#include "base/http/httpsocketfactory.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/net/physicalsocketserver.h"
#include "base/http/reusesocketpool.h"
#include "base/net/rulefilteringhub.h"
#include "base/runtime/timeutils.h"
#include "text/asciitext.h"

namespace vexalo {

class AsyncHttpRequest::Listener : public HttpClientListener {
 public:
  explicit Listener(LoopThread* thread) : thread_(thread) {}
  void OnHttpClientComplete(HttpClient*, HttpError result) override {
    done = true;
    error = result;
    thread_->Stop();
  }
  bool done = false;
  HttpError error = HERR_NONE;

 private:
  LoopThread* thread_;
};

void AsyncHttpRequest::DoWork() {
  const Params& p = params_;
  PhysicalSocketServer physical;
  std::unique_ptr<RuleFilteringHub> filtering;
  SocketHub* hub = &physical;
  if (p.simulation) {
    filtering = std::make_unique<RuleFilteringHub>(&physical, false, p.simulation);
    hub = filtering.get();
  }
  AdoptedThread thread(hub);
  HttpSocketFactory factory(hub, p.proxy, p.user_agent);
  if (p.secure) factory.SetTlsHost(p.host);
  factory.SetCaFile(p.ca_file);
  ReuseSocketPool pool(&factory);
  HttpClient client(p.user_agent, &pool);
  Listener listener(&thread);
  client.set_listener(&listener);

  client.Reset();
  if (!PrepareRequest(&client)) {
    LOG(kError) << "AsyncHttpRequest: unknown verb";
    Fail(HERR_PROTOCOL);
    return;
  }
  // Plain HTTP through an HTTP proxy talks to the proxy itself: its 407 is ours to answer.
  const bool proxied = !p.secure && factory.ProxiesPlainHttp(nullptr);
  Exchange(&client, &thread, &listener, proxied);
}

bool AsyncHttpRequest::PrepareRequest(HttpClient* client) {
  HttpVerb verb = HV_GET;
  if (!FromString(params_.verb, &verb)) return false;
  client->request().verb = verb;
  client->request().path = params_.path;
  client->set_fail_redirect(params_.fail_redirect);
  std::string content_type;
  std::string_view headers = params_.extra_headers;
  while (!headers.empty()) {
    size_t end = headers.find("\r\n");
    std::string_view line = headers.substr(0, end);
    headers = end == std::string_view::npos ? std::string_view() : headers.substr(end + 2);
    size_t colon = line.find(": ");
    if (colon == std::string_view::npos) continue;
    std::string name(line.substr(0, colon));
    std::string value(line.substr(colon + 2));
    if (EqualsNoCase(name, "Content-Type")) {
      content_type = value;
    } else {
      client->request().AddHeader(name, value, HDR_AUTO);
    }
  }
  if (verb == HV_POST && params_.body) {
    client->request().SetContent(content_type, std::move(params_.body));
  }
  return true;
}

void AsyncHttpRequest::Exchange(HttpClient* client, AdoptedThread* thread, Listener* listener,
                                bool proxied) {
  DataStream* body = client->request().document();
  std::unique_ptr<HttpAuthContext> auth_context;
  int auth_rounds = 0;
  bool first_round = true;
  const Tick deadline = TickNow() + params_.timeout_ms;
  for (;;) {
    auto document = std::make_unique<MemoryStream>();
    document->SetMaxSize(params_.max_response_bytes);
    client->response().SetDocument(std::move(document));
    thread->Restart();
    listener->done = false;
    if (body != nullptr && !RewindBody(body, first_round)) {
      Fail(HERR_STREAM);
      return;
    }
    first_round = false;
    client->Start(params_.host, params_.port, params_.secure);
    // In slices, so that a cancelled job ends soon.
    while (!listener->done && !IsCancelled()) {
      int64_t left = TickDiff(deadline, TickNow());
      if (left <= 0) break;
      thread->RunFor(static_cast<int>(std::min<int64_t>(left, 100)));
    }
    if (!listener->done) {
      LOG(kInfo) << "AsyncHttpRequest request timed out";
      result_.outcome = Outcome::kTimedOut;
      client->Reset();
      return;
    }
    if (listener->error != HERR_NONE) {
      LOG(kInfo) << "AsyncHttpRequest request error: " << HttpErrorName(listener->error);
      Fail(listener->error);
      return;
    }
    HttpResponse& response = client->response();
    result_.status = response.status;
    if (proxied && response.status == 407 && ++auth_rounds <= kMaxAuthRounds &&
        AnswerProxyChallenge(client, &auth_context)) {
      continue;
    }
    result_.response.reset(static_cast<MemoryStream*>(response.TakeDocument().release()));
    std::string location;
    if (response.HasHeader("Location", &location)) result_.location = location;
    result_.outcome = Outcome::kCompleted;
    return;
  }
}

bool AsyncHttpRequest::RewindBody(DataStream* body, bool first_round) {
  // A body already sent once (to a proxy that asked for credentials) must start again, or the
  // repeated request would carry a cut one.
  if (!body->Rewind() && !first_round) {
    LOG(kError) << "AsyncHttpRequest: the request body cannot be sent again";
    return false;
  }
  size_t size = 0;
  if (body->GetSize(&size)) {
    LOG(kInfo) << "Uploading " << size << " bytes.";
  } else {
    LOG(kInfo) << "Uploading a body of unknown size.";
  }
  return true;
}

bool AsyncHttpRequest::AnswerProxyChallenge(HttpClient* client,
                                            std::unique_ptr<HttpAuthContext>* context) {
  const Params& p = params_;
  auto range = client->response().headers().equal_range("Proxy-Authenticate");
  for (auto it = range.first; it != range.second; ++it) {
    std::string answer;
    std::string mechanism;
    AuthResult auth =
        HttpAuthenticate(it->second, p.proxy.address, p.verb, client->request().path,
                         p.proxy.username, p.proxy.password, context, &answer, &mechanism);
    if (auth == AR_IGNORE) {
      LOG(kInfo) << "Ignoring Proxy-Authenticate: " << mechanism;
      continue;
    }
    if (auth != AR_RESPONSE) return false;
    client->request().AddHeader("Proxy-Authorization", answer, HDR_REPLACE);
    SecureZero(answer.data(), answer.size());
    return true;
  }
  return false;
}

void AsyncHttpRequest::Fail(HttpError error) {
  result_.outcome = Outcome::kFailed;
  result_.http_error = error;
}

}  // namespace vexalo
