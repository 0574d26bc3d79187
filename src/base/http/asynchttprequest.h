#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/runtime/backgroundworker.h"
#include "base/http/httpmessage.h"
#include "base/http/memorystream.h"
#include "base/proxy/proxysettings.h"

namespace vexalo {

class AdoptedThread;
class HttpAuthContext;
class HttpClient;
class RuleFilteringManager;

// One HTTP request run on a worker thread of its own, with its own socket hub, pool and
// client, within a time-out; proxy challenges (407) are answered and the request repeated.
// The owner fills in params() before Start and reads result() after the completion message.
class AsyncHttpRequest : public BackgroundWorker {
 public:
  struct Params {
    ProxySettings proxy;
    RuleFilteringManager* simulation = nullptr;  // network simulation rules, if active
    bool secure = false;
    std::string host;
    uint16_t port = 80;
    std::string verb = "GET";
    std::string path = "/";
    // "Name: value" lines separated by CR LF.
    std::string extra_headers;
    std::unique_ptr<DataStream> body;  // POST only
    std::string user_agent;
    int timeout_ms = 30000;
    bool fail_redirect = false;
    // Extra CA file for TLS (empty: the process-wide setting).
    std::string ca_file;
    // The response body is not kept beyond this many bytes (the request then fails).
    size_t max_response_bytes = 16 * 1024 * 1024;
  };
  enum class Outcome {
    kNotRun,
    kCompleted,  // an HTTP answer was obtained (of any status)
    kFailed,     // see http_error
    kTimedOut,   // no answer within the time-out (or cancelled)
  };
  struct Result {
    Outcome outcome = Outcome::kNotRun;
    int status = 0;
    std::unique_ptr<MemoryStream> response;
    std::string location;
    HttpError http_error = HERR_NONE;
  };

  // Rounds of proxy authentication before the request gives up.
  static constexpr int kMaxAuthRounds = 10;

  AsyncHttpRequest(MessageTarget* owner, uint32_t message_id, EventQueue* owner_queue = nullptr)
      : BackgroundWorker(owner, message_id, owner_queue) {}

  Params& params() { return params_; }
  const Result& result() const { return result_; }
  Result& result() { return result_; }

 protected:
  ~AsyncHttpRequest() override = default;
  void DoWork() override;

 private:
  class Listener;

  // Fills in the request from params(); false for a verb we do not know.
  bool PrepareRequest(HttpClient* client);
  // Runs the request until an answer, an error or the time-out, answering proxy challenges.
  void Exchange(HttpClient* client, AdoptedThread* thread, Listener* listener, bool proxied);
  // Before each round: false when a body already sent cannot start again.
  static bool RewindBody(DataStream* body, bool first_round);
  // True when a Proxy-Authenticate challenge was answered and the request is to be repeated.
  bool AnswerProxyChallenge(HttpClient* client, std::unique_ptr<HttpAuthContext>* context);
  void Fail(HttpError error);

  Params params_;
  Result result_;
};

}  // namespace vexalo
