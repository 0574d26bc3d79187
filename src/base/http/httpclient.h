#pragma once

#include <cstdint>
#include <string>

#include "base/http/httpbase.h"
#include "base/http/httprequest.h"
#include "base/http/httpresponse.h"
#include "base/http/socketstream.h"

namespace vexalo {

class HttpClient;
class HttpSocketPool;

class HttpClientListener {
 public:
  virtual ~HttpClientListener() = default;
  // The exchange ended; the client may be reused or destroyed from here.
  virtual void OnHttpClientComplete(HttpClient* client, HttpError error) = 0;
};

// The parts of an "http://" or "https://" address.
struct HttpUrl {
  bool secure = false;
  std::string host;  // an IPv6 literal without its brackets
  uint16_t port = 80;
  std::string path = "/";  // with the query

  // "http[s]://host[:port]path": the port only when it is not the scheme's own, an IPv6
  // literal in brackets.
  std::string ToString() const;
};
// Parses an absolute http or https address ("http://host[:port][/path]"; the scheme in any
// case; the host a name, an IPv4 address or an IPv6 literal in brackets, "[::1]"). The port
// defaults to 80, or 443 for https. False for anything else, a port that is not 1-65535 in
// decimal, or a host with characters that do not belong in one; `error` (may be null) then
// says what is wrong. An IPv6 literal is kept in its usual compressed form ("::1").
bool ParseHttpUrl(std::string_view url, HttpUrl* out, std::string* error = nullptr);
// The Host header value for a server: "host", or "host:port" when the port is not the
// scheme's own; an IPv6 literal in brackets ("[::1]:8080").
std::string HttpHostHeader(const std::string& host, uint16_t port, bool secure);

// Runs one HTTP exchange at a time: completes the request headers, takes a connection from
// the pool, sends, receives, keeps the connection for the next exchange when the server
// allows it, follows redirects (at most kMaxRedirects, to http or https, never from https
// down to http) and reports the end once.
//
// A request body whose size its document cannot tell goes out with "Transfer-Encoding:
// chunked" (HTTP/1.1 only), one of known size with its Content-Length. A body is only sent
// again (after a redirect that keeps the method, or on a new connection after a kept one
// failed) when its document can rewind or has not been read yet; otherwise the exchange
// ends with HERR_STREAM or the connection's error.
class HttpClient : public HttpBaseNotify {
 public:
  static constexpr int kMaxRedirects = 10;
  // Interim (1xx) responses accepted before the real one.
  static constexpr int kMaxInterimResponses = 8;

  // `pool` is not owned.
  HttpClient(const std::string& user_agent, HttpSocketPool* pool);
  ~HttpClient() override;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  void set_listener(HttpClientListener* listener) { listener_ = listener; }
  // With it set, a redirect ends the exchange with the 3xx response instead of being followed.
  void set_fail_redirect(bool on) { fail_redirect_ = on; }
  // Forces absolute request targets ("http://host/path"), for a caller that knows the
  // connection leads to a proxy. Normally the pool tells.
  void set_absolute_uri(bool on) { absolute_uri_ = on; }

  HttpRequest& request() { return request_; }
  HttpResponse& response() { return response_; }

  // Cancels a running exchange (no completion is reported) and clears request and response.
  void Reset();
  // Starts the exchange with host:port, over TLS when `secure`. The request (verb, path,
  // headers, body) and the response document are set before. Ignored while one runs. An
  // IPv6 literal host may come with or without its brackets.
  void Start(const std::string& host, uint16_t port, bool secure = false);
  // Starts with the server and path of an absolute address; false if it cannot be parsed.
  bool StartUrl(const std::string& url);

  bool running() const { return running_; }
  // Redirects followed by the current (or last) exchange.
  int redirects() const { return redirects_; }
  // Whether the last request went over a connection kept from an earlier exchange.
  bool connection_reused() const { return reused_; }
  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }
  bool secure() const { return secure_; }

 private:
  void OnHttpComplete(HttpMode mode, HttpError error) override;
  void OnHttpClosed(HttpError error) override;
  void OnHttpHeaderComplete(bool chunked, int64_t* data_size, bool* discard) override;

  void StartExchange();
  void OnResponse();
  // Follows the current 3xx response; returns HERR_NONE when the next exchange is started.
  HttpError FollowRedirect();
  void ReleaseSocket(bool close);
  void Finish(HttpError error);

  std::string user_agent_;
  HttpSocketPool* pool_;
  HttpClientListener* listener_ = nullptr;
  SocketStream stream_;
  HttpBase base_;
  HttpRequest request_;
  HttpResponse response_;
  bool fail_redirect_ = false;
  bool absolute_uri_ = false;

  bool running_ = false;
  std::string host_;
  uint16_t port_ = 80;
  bool secure_ = false;
  int redirects_ = 0;
  int interim_ = 0;
  bool reused_ = false;
  bool retried_ = false;
};

}  // namespace vexalo
