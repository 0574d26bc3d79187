#include "p2p/client/httpportallocatorsession.h"

#include "base/http/asynchttprequest.h"
#include "base/runtime/logging.h"
#include "p2p/client/httpportallocator.h"
#include "p2p/client/relaysessionanswer.h"

namespace vexalo {

HTTPPortAllocatorSession::HTTPPortAllocatorSession(HTTPPortAllocator* allocator, std::string name,
                                                   int generation)
    : AllocatorSession(allocator, std::move(name), generation), http_allocator_(allocator) {}

HTTPPortAllocatorSession::~HTTPPortAllocatorSession() {
  for (Request& request : requests_) {
    if (request.http) request.http->Release();
  }
}

void HTTPPortAllocatorSession::GetPortConfigurations() {
  if (requests_made() >= kMaxRequests) {
    LOG(kWarning) << "HTTPPortAllocator: maximum number of requests reached";
    // A relay that cannot be had must not cost the direct paths too.
    ConfigureWithoutServiceRelay();
    return;
  }
  const auto& hosts = http_allocator_->relay_hosts();
  if (hosts.empty()) {
    // No relay of the service: the user's own server's TURN service, when it has one, is the
    // relay; the local, STUN and TCP ports come all the same.
    LOG(kWarning) << "HTTPPortAllocator: no relay host";
    ConfigureWithoutServiceRelay();
    return;
  }
  const int number = requests_made() + 1;
  const std::string& host = hosts[static_cast<size_t>(number) % hosts.size()];
  LOG(kInfo) << "HTTPPortAllocator: starting request " << number;
  LOG(kInfo) << "HTTPPortAllocator: sending to host " << host;

  auto* http = new AsyncHttpRequest(this, kRequestDoneMessage, thread());
  AsyncHttpRequest::Params& params = http->params();
  params.proxy = allocator()->proxy();
  params.user_agent = allocator()->user_agent();
  params.secure = http_allocator_->secure();
  params.host = host;
  params.port = http_allocator_->port();
  params.verb = "GET";
  params.path = "/create_session";
  params.ca_file = http_allocator_->ca_file();
  params.timeout_ms = kRequestTimeoutMs;
  params.max_response_bytes = RelaySessionAnswer::kMaxBodyBytes;
  const std::string& token = http_allocator_->relay_token();
  if (!token.empty()) {
    params.extra_headers = "X-Ombrix-Relay-Auth: " + token +
                           "\r\nX-Vexalo-Ombrix-Relay-Auth: " + token;
  } else {
    const std::string& cookie = http_allocator_->service_cookie();
    params.extra_headers = "X-Ombrix-Service-Cookie: " + cookie +
                           "\r\nX-Vexalo-Ombrix-Service-Cookie: " + cookie;
  }
  params.extra_headers += "\r\nX-Session-Type: " + http_allocator_->session_type();
  requests_.push_back(Request{number, false, http});
  http->Start();
  thread()->PostAfter(kRequestTimeoutMs, this, kRequestTimeoutMessage,
                      new MessageData<int>(number));
}

void HTTPPortAllocatorSession::ConfigureWithoutServiceRelay() {
  auto config = std::make_unique<PortConfiguration>();
  if (!http_allocator_->stun_hosts().empty()) {
    config->stun_address = http_allocator_->stun_hosts().front();
  }
  config->turn_servers = allocator()->turn_servers();
  ConfigurationReady(std::move(config));
}

void HTTPPortAllocatorSession::HandleMessage(QueuedMessage* msg) {
  if (msg->id == kRequestTimeoutMessage) {
    OnTimeout(msg->TakePayload<MessageData<int>>()->value());
  } else if (msg->id == kRequestDoneMessage) {
    auto completion = msg->TakePayload<WorkerCompletion>();
    OnCompleted(static_cast<AsyncHttpRequest*>(completion->worker()));
  } else {
    AllocatorSession::HandleMessage(msg);
  }
}

void HTTPPortAllocatorSession::OnTimeout(int number) {
  Request& request = requests_[static_cast<size_t>(number - 1)];
  if (request.done) return;
  // A late answer to a request given up on is ignored.
  request.done = true;
  LOG(kWarning) << "HTTPPortAllocator: request " << number << " timed out";
  if (IsLatest(number)) GetPortConfigurations();
}

void HTTPPortAllocatorSession::OnCompleted(AsyncHttpRequest* http) {
  Request* request = nullptr;
  for (Request& r : requests_) {
    if (r.http == http) request = &r;
  }
  if (!request) return;
  request->http = nullptr;
  const AsyncHttpRequest::Result& result = http->result();
  const int number = request->number;
  const bool already_done = request->done;
  http->Release();
  if (already_done) return;
  request->done = true;
  thread()->Clear(this, kRequestTimeoutMessage);  // only this request's is pending
  const int status = result.outcome == AsyncHttpRequest::Outcome::kCompleted ? result.status : 0;
  PortConfiguration config;
  const SocketAddress stun = http_allocator_->stun_hosts().empty()
                                 ? SocketAddress()
                                 : http_allocator_->stun_hosts().front();
  const std::string body = result.response ? result.response->data() : std::string();
  if (status != 200) {
    LOG(kWarning) << "HTTPPortAllocator: request " << number << " received error " << status;
  } else if (!RelaySessionAnswer::Parse(body, stun, &config)) {
    LOG(kWarning) << "HTTPPortAllocator: request " << number << " gave an unusable answer";
  } else {
    LOG(kInfo) << "HTTPPortAllocator: request " << number << " succeeded";
    ConfigurationReady(std::make_unique<PortConfiguration>(std::move(config)));
    return;
  }
  if (IsLatest(number)) GetPortConfigurations();
}

}  // namespace vexalo
