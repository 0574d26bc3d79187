#include "base/asynchttprequest.h"

#include <algorithm>

#include "base/httpauthenticate.h"
#include "base/httpclient.h"
#include "base/httpsocketfactory.h"
#include "base/logging.h"
#include "base/loopthread.h"
#include "base/physicalsocketserver.h"
#include "base/reusesocketpool.h"
#include "base/rulefilteringhub.h"
#include "base/timeutils.h"
#include "text/asciitext.h"

namespace vexalo {
namespace {

class Listener : public HttpClientListener {
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

}  // namespace

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
  {
    HttpSocketFactory factory(hub, p.proxy, p.user_agent);
    if (p.secure) factory.SetTlsHost(p.host);
    factory.SetCaFile(p.ca_file);
    ReuseSocketPool pool(&factory);
    HttpClient client(p.user_agent, &pool);
    Listener listener(&thread);
    client.set_listener(&listener);

    // Plain HTTP through an HTTP proxy talks to the proxy itself: its 407 is ours to answer.
    const bool proxied = !p.secure && factory.ProxiesPlainHttp(nullptr);

    client.Reset();
    HttpVerb verb = HV_GET;
    if (!FromString(p.verb, &verb)) {
      LOG(kError) << "AsyncHttpRequest: unknown verb";
      result_.error = true;
      result_.http_error = HERR_PROTOCOL;
      return;
    }
    client.request().verb = verb;
    client.request().path = p.path;
    client.set_fail_redirect(p.fail_redirect);
    std::string content_type;
    std::string_view headers = p.extra_headers;
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
        client.request().AddHeader(name, value, HDR_AUTO);
      }
    }
    DataStream* body = nullptr;
    if (verb == HV_POST && params_.body) {
      client.request().SetContent(content_type, std::move(params_.body));
      body = client.request().document();
    }

    std::unique_ptr<HttpAuthContext> auth_context;
    int auth_rounds = 0;
    bool first_round = true;
    const Tick deadline = TickNow() + p.timeout_ms;
    for (;;) {
      auto document = std::make_unique<MemoryStream>();
      document->SetMaxSize(p.max_response_bytes);
      client.response().SetDocument(std::move(document));
      thread.Restart();
      listener.done = false;
      if (body) {
        // A body already sent once (to a proxy that asked for credentials) must start again,
        // or the repeated request would carry a cut one.
        if (!body->Rewind() && !first_round) {
          LOG(kError) << "AsyncHttpRequest: the request body cannot be sent again";
          result_.error = true;
          result_.http_error = HERR_STREAM;
          break;
        }
        size_t size = 0;
        if (body->GetSize(&size)) {
          LOG(kInfo) << "Uploading " << size << " bytes.";
        } else {
          LOG(kInfo) << "Uploading a body of unknown size.";
        }
      }
      first_round = false;
      client.Start(p.host, p.port, p.secure);
      // In slices, so that a cancelled job ends soon.
      while (!listener.done && !IsCancelled()) {
        int64_t left = TickDiff(deadline, TickNow());
        if (left <= 0) break;
        thread.RunFor(static_cast<int>(std::min<int64_t>(left, 100)));
      }
      if (!listener.done) {
        LOG(kInfo) << "AsyncHttpRequest request timed out";
        result_.timed_out = true;
        result_.error = true;
        client.Reset();
        break;
      }
      if (listener.error != HERR_NONE) {
        LOG(kInfo) << "AsyncHttpRequest request error: " << HttpErrorName(listener.error);
        result_.error = true;
        result_.http_error = listener.error;
        break;
      }
      HttpResponse& response = client.response();
      result_.status = response.status;
      if (proxied && response.status == 407 && ++auth_rounds <= kMaxAuthRounds) {
        bool retry = false;
        auto range = response.headers().equal_range("Proxy-Authenticate");
        for (auto it = range.first; it != range.second; ++it) {
          std::string answer;
          std::string mechanism;
          AuthResult auth = HttpAuthenticate(it->second, p.proxy.address, p.verb,
                                             client.request().path, p.proxy.username,
                                             p.proxy.password, &auth_context, &answer,
                                             &mechanism);
          if (auth == AR_IGNORE) {
            LOG(kInfo) << "Ignoring Proxy-Authenticate: " << mechanism;
            continue;
          }
          if (auth == AR_RESPONSE) {
            client.request().AddHeader("Proxy-Authorization", answer, HDR_REPLACE);
            SecureZero(answer.data(), answer.size());
            retry = true;
          }
          break;
        }
        if (retry) continue;
      }
      result_.response.reset(
          static_cast<MemoryStream*>(client.response().TakeDocument().release()));
      std::string location;
      if (response.HasHeader("Location", &location)) result_.location = location;
      result_.completed = true;
      result_.error = false;
      break;
    }
    auth_context.reset();
  }
}

}  // namespace vexalo
