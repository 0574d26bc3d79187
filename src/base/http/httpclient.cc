#include "base/http/httpclient.h"

#include <charconv>

#include "base/http/httpsocketpool.h"
#include "base/runtime/logging.h"
#include "text/asciitext.h"

namespace vexalo {
namespace {

bool IsHostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == '_';
}

// Bytes that cannot stand in a request line.
bool IsPathChar(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte > 0x20 && byte != 0x7f;
}

uint16_t DefaultPort(bool secure) { return secure ? 443 : 80; }

// The request target with its query, without the fragment, which stays with the client.
bool CleanPath(std::string_view path, std::string* out) {
  path = path.substr(0, path.find('#'));
  for (char c : path) {
    if (!IsPathChar(c)) return false;
  }
  if (path.empty()) {
    *out = "/";
  } else if (path[0] == '?') {
    *out = "/" + std::string(path);
  } else {
    out->assign(path);
  }
  return true;
}

// The path of a request target (what follows the server in an absolute one).
std::string OriginPath(const std::string& target) {
  if (!StartsWithNoCase(target, "http://") && !StartsWithNoCase(target, "https://")) {
    return target;
  }
  size_t slash = target.find('/', target.find("//") + 2);
  return slash == std::string::npos ? "/" : target.substr(slash);
}

// Where a redirect leads, from its Location and the address that gave it.
bool ResolveLocation(std::string_view location, const HttpUrl& base, HttpUrl* out) {
  if (StartsWithNoCase(location, "http://") || StartsWithNoCase(location, "https://")) {
    return ParseHttpUrl(location, out);
  }
  if (location.starts_with("//")) {
    std::string absolute = std::string(base.secure ? "https:" : "http:") + std::string(location);
    return ParseHttpUrl(absolute, out);
  }
  *out = base;
  if (location.empty()) return false;
  if (location[0] == '/' || location[0] == '?') return CleanPath(location, &out->path);
  // Any other scheme ("ftp:", "javascript:") is not ours to follow.
  size_t colon = location.find(':');
  if (colon != std::string_view::npos && location.find('/') > colon) return false;
  std::string directory = base.path.substr(0, base.path.find('?'));
  directory = directory.substr(0, directory.rfind('/') + 1);
  return CleanPath(directory + std::string(location), &out->path);
}

}  // namespace

bool ParseHttpUrl(std::string_view url, HttpUrl* out, std::string* error) {
  auto fail = [error](const char* why) {
    if (error) *error = why;
    return false;
  };
  HttpUrl result;
  if (StartsWithNoCase(url, "http://")) {
    url.remove_prefix(7);
  } else if (StartsWithNoCase(url, "https://")) {
    url.remove_prefix(8);
    result.secure = true;
  } else {
    return fail("not an http or https address");
  }
  size_t end = url.find_first_of("/?#");
  std::string_view authority = url.substr(0, end);
  std::string_view rest = end == std::string_view::npos ? std::string_view() : url.substr(end);
  std::string_view port_text;
  bool has_port = false;
  if (!authority.empty() && authority[0] == '[') {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) return fail("IPv6 address without its closing ']'");
    in6_addr ip;
    // No zone index ("%25eth0"): a link-local scope means nothing to another host.
    if (!SocketAddress::StringToIPv6(std::string(authority.substr(1, close - 1)), &ip)) {
      return fail("no IPv6 address between '[' and ']'");
    }
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return fail("text after the IPv6 address that is not a port");
      port_text = after.substr(1);
      has_port = true;
    }
    result.host = SocketAddress::IPv6ToString(ip);
  } else {
    size_t colon = authority.find(':');
    std::string_view host = authority.substr(0, colon);
    if (host.empty()) return fail("no host");
    for (char c : host) {
      if (c == '@') return fail("user information in the address");
      if (!IsHostChar(c)) return fail("a character that does not belong in a host name");
    }
    if (colon != std::string_view::npos) {
      port_text = authority.substr(colon + 1);
      has_port = true;
    }
    result.host.assign(host);
  }
  result.port = DefaultPort(result.secure);
  if (has_port) {
    unsigned port = 0;
    auto [ptr, ec] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
    if (port_text.empty() || ec != std::errc() || ptr != port_text.data() + port_text.size() ||
        port == 0 || port > 65535) {
      return fail("a port that is not a number from 1 to 65535");
    }
    result.port = static_cast<uint16_t>(port);
  }
  if (!CleanPath(rest, &result.path)) return fail("a path with spaces or control characters");
  *out = std::move(result);
  return true;
}

std::string HttpHostHeader(const std::string& host, uint16_t port, bool secure) {
  // Only an IPv6 literal has colons; bare, it would run into the port.
  std::string text = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port != DefaultPort(secure)) text += ":" + std::to_string(port);
  return text;
}

std::string HttpUrl::ToString() const {
  return std::string(secure ? "https://" : "http://") + HttpHostHeader(host, port, secure) + path;
}

HttpClient::HttpClient(const std::string& user_agent, HttpSocketPool* pool)
    : user_agent_(user_agent), pool_(pool) {
  base_.set_notify(this);
}

HttpClient::~HttpClient() {
  base_.set_notify(nullptr);
  base_.Detach();
  if (stream_.socket()) ReleaseSocket(true);
}

void HttpClient::Reset() {
  request_.Clear();
  response_.Clear();
  if (running_) {
    running_ = false;
    base_.set_notify(nullptr);
    base_.Abort(HERR_CANCELLED);
    base_.set_notify(this);
    base_.Detach();
    if (stream_.socket()) ReleaseSocket(true);
  }
}

bool HttpClient::StartUrl(const std::string& url) {
  HttpUrl parsed;
  std::string error;
  if (!ParseHttpUrl(url, &parsed, &error)) {
    // The reason only: an address may carry a token in its query.
    LOG(kWarning) << "HttpClient: unusable address: " << error;
    return false;
  }
  request_.path = parsed.path;
  Start(parsed.host, parsed.port, parsed.secure);
  return true;
}

void HttpClient::Start(const std::string& host, uint16_t port, bool secure) {
  if (running_) return;
  running_ = true;
  host_ = host;
  if (host_.size() > 2 && host_.front() == '[' && host_.back() == ']') {
    host_ = host_.substr(1, host_.size() - 2);
  }
  port_ = port;
  secure_ = secure;
  redirects_ = 0;
  retried_ = false;
  StartExchange();
}

void HttpClient::StartExchange() {
  interim_ = 0;
  request_.AddHeader("User-Agent", user_agent_, HDR_IF_ABSENT);
  request_.AddHeader("Connection", "Keep-Alive", HDR_IF_ABSENT);
  std::string coding;
  const bool chunked =
      request_.HasHeader("Transfer-Encoding", &coding) && EqualsNoCase(coding, "chunked");
  if (!request_.HasHeader("Content-Length") && !chunked) {
    size_t size = 0;
    if (request_.document() && !request_.document()->GetSize(&size)) {
      // Chunks tell where the body ends; an HTTP/1.0 server knows no chunks.
      if (request_.version == HVER_1_0) {
        LOG(kError) << "HttpClient: request body of unknown size over HTTP/1.0";
        Finish(HERR_STREAM);
        return;
      }
      request_.AddHeader("Transfer-Encoding", "chunked", HDR_REPLACE);
    } else {
      request_.AddHeader("Content-Length", std::to_string(size), HDR_IF_ABSENT);
    }
  }
  const std::string host_header = HttpHostHeader(host_, port_, secure_);
  request_.AddHeader("Host", host_header, HDR_REPLACE);

  SocketAddress address(host_, port_, false);
  SocketAddress proxy;
  bool via_proxy = !secure_ && pool_->ProxiesPlainHttp(&proxy);
  if (via_proxy) address = proxy;
  if (!secure_ && (via_proxy || absolute_uri_)) {
    if (!StartsWithNoCase(request_.path, "http://")) {
      request_.path = "http://" + host_header + request_.path;
    }
  } else {
    request_.path = OriginPath(request_.path);
  }
  if (StartsWithNoCase(request_.path, "http")) {
    request_.AddHeader("Proxy-Connection", "Keep-Alive", HDR_IF_ABSENT);
  } else {
    request_.ClearHeader("Proxy-Connection");
  }

  int error = 0;
  EventSocket* socket = pool_->RequestConnectedSocket(address, secure_, &error, &reused_);
  if (!socket) {
    if (error != 0) LOG(kError) << "RequestConnectedSocket returned: " << error;
    Finish(HERR_SOCKET);
    return;
  }
  stream_.Attach(socket);
  base_.Attach(&stream_);
  // Sending on a socket that is neither open nor opening ends the exchange at once.
  if (stream_.GetState() != STREAM_OPENING) base_.Send(&request_);
}

void HttpClient::OnHttpHeaderComplete(bool, int64_t* data_size, bool* discard) {
  int status = response_.status;
  if (request_.verb == HV_HEAD || (status >= 100 && status < 200) || status == 204 ||
      status == 304) {
    *data_size = 0;
  } else if (status >= 300 && status < 400 && !fail_redirect_) {
    *discard = true;  // the page that says "moved" is of no use to us
  }
}

void HttpClient::OnHttpComplete(HttpMode mode, HttpError error) {
  if (!running_) return;
  if (error == HERR_NONE) {
    switch (mode) {
      case HM_CONNECT:
        base_.Send(&request_);
        return;
      case HM_SEND: {
        // The document stays: it is the caller's sink for the body.
        std::unique_ptr<DataStream> document = response_.TakeDocument();
        response_.Clear();
        response_.SetDocument(std::move(document));
        base_.Recv(&response_);
        return;
      }
      case HM_RECV:
        OnResponse();
        return;
      default:
        break;
    }
  }
  // A kept connection that the server closed just before we used it fails before a byte of
  // the answer: one more try on a new connection.
  if (reused_ && !retried_ && (error == HERR_DISCONNECTED || error == HERR_SOCKET) &&
      base_.received_bytes() == 0 && (mode == HM_SEND || mode == HM_RECV)) {
    // The body goes again from its start: only when nothing was taken from it yet or it can
    // rewind. Resending the rest of a body would give the server a cut one.
    if (!request_.document() || !base_.body_started() || request_.document()->Rewind()) {
      LOG(kInfo) << "HttpClient: kept connection lost, retrying on a new one";
      ReleaseSocket(true);
      retried_ = true;
      StartExchange();
      return;
    }
    LOG(kWarning) << "HttpClient: kept connection lost; the request body cannot be sent again";
  }
  Finish(error);
}

void HttpClient::OnHttpClosed(HttpError) {}

void HttpClient::OnResponse() {
  int status = response_.status;
  if (status >= 100 && status < 200 && status != 101) {
    if (++interim_ > kMaxInterimResponses) {
      Finish(HERR_PROTOCOL);
      return;
    }
    base_.Recv(&response_);
    return;
  }
  std::string connection;
  if (!response_.HasHeader("Proxy-Connection", &connection)) {
    response_.HasHeader("Connection", &connection);
  }
  bool keep = EqualsNoCase(connection, "keep-alive") && !base_.excess_data();
  if (!keep) {
    LOG(kInfo) << "HttpClient: closing socket";
    stream_.Close();
  }
  if (status >= 300 && status < 400 && status != 304) {
    std::string location;
    if (!response_.HasHeader("Location", &location)) {
      Finish(HERR_PROTOCOL);
      return;
    }
    if (!fail_redirect_) {
      HttpError result = FollowRedirect();
      if (result != HERR_NONE) Finish(result);
      return;
    }
  }
  Finish(HERR_NONE);
}

HttpError HttpClient::FollowRedirect() {
  std::string location;
  response_.HasHeader("Location", &location);
  HttpUrl current;
  current.secure = secure_;
  current.host = host_;
  current.port = port_;
  current.path = OriginPath(request_.path);
  HttpUrl next;
  if (!ResolveLocation(location, current, &next)) {
    LOG(kWarning) << "HttpClient: unusable redirect: "
                      << PrintableText(location.substr(0, location.find('?')), 200);
    return HERR_REDIRECT;
  }
  if (secure_ && !next.secure) {
    LOG(kWarning) << "HttpClient: refusing redirect from https to http";
    return HERR_REDIRECT;
  }
  if (redirects_ >= kMaxRedirects) {
    LOG(kWarning) << "HttpClient: too many redirects";
    return HERR_REDIRECT;
  }
  if (response_.status == 303) {
    request_.verb = HV_GET;
    request_.SetDocument(nullptr);
    request_.ClearHeader("Content-Type");
    request_.ClearHeader("Content-Length");
    request_.ClearHeader("Transfer-Encoding");
  } else if (request_.document() && base_.body_started() && !request_.document()->Rewind()) {
    LOG(kWarning) << "HttpClient: redirect " << response_.status
                  << " needs the request body again, which cannot rewind";
    return HERR_STREAM;
  }
  bool same_server = next.secure == secure_ && EqualsNoCase(next.host, host_) && next.port == port_;
  if (!same_server) {
    // Credentials were meant for the server that asked for them.
    request_.ClearHeader("Authorization");
    request_.ClearHeader("Cookie");
  }
  LOG(kInfo) << "HttpClient: redirect " << response_.status << " to "
             << (next.secure ? "https://" : "http://")
             << SocketAddress(next.host, next.port, false).ToString();
  ++redirects_;
  ReleaseSocket(false);
  base_.Detach();
  host_ = next.host;
  port_ = next.port;
  secure_ = next.secure;
  request_.path = next.path;
  retried_ = false;
  // May end the exchange at once; nothing of ours is touched after it.
  StartExchange();
  return HERR_NONE;
}

void HttpClient::ReleaseSocket(bool close) {
  base_.Detach();
  EventSocket* socket = stream_.Detach();
  if (!socket) return;
  if (close) socket->Close();
  pool_->ReleaseConnectedSocket(socket);
}

void HttpClient::Finish(HttpError error) {
  ReleaseSocket(error != HERR_NONE);
  running_ = false;
  if (listener_) listener_->OnHttpClientComplete(this, error);
}

}  // namespace vexalo
