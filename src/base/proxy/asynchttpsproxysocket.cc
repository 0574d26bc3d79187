#include "base/proxy/asynchttpsproxysocket.h"

#include <glib.h>

#include <atomic>
#include <charconv>
#include <cstring>
#include <mutex>

#include "base/runtime/logging.h"
#include "base/net/socketerrors.h"
#include "text/asciitext.h"

namespace vexalo {
namespace {

std::mutex handler_lock;
AsyncHttpsProxySocket::IncompatibleProxyHandler incompatible_handler;
std::string support_form_address;
std::atomic<bool> incompatibility_reported{false};

// "HTTP/<major>.<minor> <code>": the status code, or -1.
int ParseStatus(const std::string& line) {
  if (line.compare(0, 5, "HTTP/") != 0) return -1;
  size_t pos = 5;
  auto digits = [&] {
    size_t start = pos;
    while (pos < line.size() && g_ascii_isdigit(line[pos])) ++pos;
    return pos > start;
  };
  if (!digits() || pos >= line.size() || line[pos++] != '.' || !digits()) return -1;
  if (pos >= line.size() || line[pos] != ' ') return -1;
  while (pos < line.size() && line[pos] == ' ') ++pos;
  int code = -1;
  auto [end, ec] = std::from_chars(line.data() + pos, line.data() + line.size(), code);
  if (ec != std::errc() || end == line.data() + pos) return -1;
  return code;
}

}  // namespace

void AsyncHttpsProxySocket::SetIncompatibleProxyHandler(IncompatibleProxyHandler handler) {
  std::lock_guard<std::mutex> hold(handler_lock);
  incompatible_handler = std::move(handler);
}

void AsyncHttpsProxySocket::SetSupportFormAddress(const std::string& address) {
  std::lock_guard<std::mutex> hold(handler_lock);
  support_form_address = address;
}

AsyncHttpsProxySocket::AsyncHttpsProxySocket(EventSocket* socket, const std::string& user_agent,
                                             const SocketAddress& proxy,
                                             const std::string& username,
                                             const SecretText& password)
    : BufferedReadAdapter(socket),
      user_agent_(user_agent),
      proxy_(proxy),
      username_(username),
      password_(password) {}

int AsyncHttpsProxySocket::Connect(const SocketAddress& destination) {
  LOG(kVerbose) << "AsyncHttpsProxySocket::Connect(" << proxy_.ToString() << ")";
  destination_ = destination;
  if (destination_.port() != 80) BufferInput(true);
  return BufferedReadAdapter::Connect(proxy_);
}

int AsyncHttpsProxySocket::Close() {
  extra_headers_.clear();
  state_ = PS_INIT;
  auth_context_.reset();
  ClearBuffer();
  return BufferedReadAdapter::Close();
}

void AsyncHttpsProxySocket::OnConnectEvent(EventSocket*) {
  LOG(kVerbose) << "AsyncHttpsProxySocket::OnConnectEvent";
  if (destination_.port() == 80) {
    state_ = PS_TUNNEL;
    ConnectEvent.Emit(this);
    return;
  }
  SendRequest();
}

void AsyncHttpsProxySocket::SendRequest() {
  std::string request = "CONNECT " + destination_.ToString() + " HTTP/1.0\r\n";
  request += "User-Agent: " + user_agent_ + "\r\n";
  request += "Host: " + destination_.IPAsUriString() + "\r\n";
  request += "Content-Length: 0\r\n";
  request += "Proxy-Connection: Keep-Alive\r\n";
  std::string logged = request;
  if (!extra_headers_.empty()) {
    request += extra_headers_;
    logged += "Proxy-Authorization: ## TEXT REMOVED ##\r\n";
  }
  request += "\r\n";
  wrapped()->Send(request.data(), request.size());
  SecureZero(request.data(), request.size());
  state_ = PS_LEADER;
  expect_close_ = true;
  new_connection_ = false;
  content_length_ = 0;
  header_bytes_ = 0;
  extra_headers_.clear();
  LOG(kVerbose) << "AsyncHttpsProxySocket >> " << logged;
}

void AsyncHttpsProxySocket::ProcessInput(char* buffer, size_t* length) {
  size_t pos = 0;
  while (state_ < PS_TUNNEL && pos < *length) {
    if (state_ == PS_SKIP_BODY) {
      size_t skip = std::min(content_length_, *length - pos);
      pos += skip;
      content_length_ -= skip;
      if (content_length_ == 0) {
        EndResponse();
        if (state_ == PS_INIT || state_ == PS_WAIT_CLOSE) {
          *length = 0;
          return;
        }
      }
      continue;
    }
    char* feed = static_cast<char*>(std::memchr(buffer + pos, '\n', *length - pos));
    if (!feed) break;
    size_t end = static_cast<size_t>(feed - buffer);
    size_t line_end = end > pos && buffer[end - 1] == '\r' ? end - 1 : end;
    std::string line(buffer + pos, line_end - pos);
    header_bytes_ += end + 1 - pos;
    pos = end + 1;
    if (header_bytes_ > kMaxHeaderBytes) {
      LOG(kWarning) << "AsyncHttpsProxySocket: proxy answer headers too long";
      return Fail(0);
    }
    State before = state_;
    ProcessLine(line);
    // Failed, or gone back to the proxy for a new connection: this buffer is finished.
    if (state_ == PS_INIT || state_ == PS_WAIT_CLOSE) {
      *length = 0;
      return;
    }
    if (state_ == PS_LEADER && before != PS_LEADER) {
      // The request went out again on this connection: the rest belongs to its answer.
      header_bytes_ = 0;
    }
  }
  *length -= pos;
  std::memmove(buffer, buffer + pos, *length);
  if (state_ == PS_TUNNEL) {
    BufferInput(false);
    ConnectEvent.Emit(this);
    if (*length > 0) ReadEvent.Emit(this);
  }
}

void AsyncHttpsProxySocket::ProcessLine(const std::string& line) {
  LOG(kVerbose) << "AsyncHttpsProxySocket << " << line;
  if (line.empty()) {
    switch (state_) {
      case PS_TUNNEL_HEADERS:
        state_ = PS_TUNNEL;
        break;
      case PS_ERROR_HEADERS:
        Fail(error_);
        break;
      case PS_SKIP_HEADERS:
        if (content_length_ > 0) {
          state_ = PS_SKIP_BODY;
        } else {
          EndResponse();
        }
        break;
      case PS_AUTHENTICATE:
        if (!ignored_mechanisms_.empty()) ReportIncompatibleProxy();
        Fail(0);
        break;
      default:
        break;
    }
    return;
  }
  if (state_ == PS_LEADER) {
    int code = ParseStatus(line);
    if (code == 200) {
      state_ = PS_TUNNEL_HEADERS;
    } else if (code == 407) {
      state_ = PS_AUTHENTICATE;
    } else if (code == 401 && auth_context_) {
      // Some proxies answer rejected credentials with 401 instead of another 407.
      error_ = kSocketAccessDenied;
      state_ = PS_ERROR_HEADERS;
    } else if (code > 0) {
      error_ = 0;
      state_ = PS_ERROR_HEADERS;
    } else {
      Fail(0);
    }
    return;
  }
  if (state_ == PS_AUTHENTICATE && StartsWithNoCase(line, "Proxy-Authenticate:")) {
    std::string response, mechanism;
    const std::string challenge(TrimLeft(std::string_view(line).substr(19), " \t"));
    const bool under_way = auth_context_ != nullptr;
    AuthResult result = HttpAuthenticate(challenge, proxy_, "CONNECT", "/", username_, password_,
                                         &auth_context_, &response, &mechanism);
    switch (result) {
      case AR_RESPONSE:
        extra_headers_ = "Proxy-Authorization: " + response + "\r\n";
        SecureZero(response.data(), response.size());
        // The proxy refused the exchange under way (a challenge without a token), and this
        // answer starts another: proxies keep the failed state of connection-bound schemes
        // (NTLM, Negotiate) on that connection, so the new exchange takes a new one.
        if (under_way && ParseHttpChallenge(challenge).params.count("") == 0) {
          new_connection_ = true;
        }
        state_ = PS_SKIP_HEADERS;
        ignored_mechanisms_.clear();
        break;
      case AR_IGNORE:
        LOG(kVerbose) << "Ignoring Proxy-Authenticate: " << mechanism;
        if (!ignored_mechanisms_.empty()) ignored_mechanisms_ += ", ";
        ignored_mechanisms_ += mechanism;
        break;
      case AR_CREDENTIALS:
        error_ = kSocketAccessDenied;
        state_ = PS_ERROR_HEADERS;
        ignored_mechanisms_.clear();
        break;
      case AR_ERROR:
        error_ = 0;
        state_ = PS_ERROR_HEADERS;
        ignored_mechanisms_.clear();
        break;
    }
    return;
  }
  if (StartsWithNoCase(line, "Content-Length:")) {
    // Decimal digits only; anything else, or a body we would wait on forever, ends the attempt.
    uint64_t length = 0;
    if (!ParseDecimal(Trim(std::string_view(line).substr(15), " \t"), kMaxBodyBytes, &length)) {
      LOG(kWarning) << "AsyncHttpsProxySocket: bad Content-Length from proxy";
      return Fail(0);
    }
    content_length_ = length;
  } else if (g_ascii_strcasecmp(line.c_str(), "Proxy-Connection: Keep-Alive") == 0 ||
             g_ascii_strcasecmp(line.c_str(), "Connection: Keep-Alive") == 0) {
    // Current proxies (squid among them) promise the connection with the standard header.
    // Answering on it matters: NTLM and multi-step Negotiate tie their state to it.
    expect_close_ = false;
  }
}

void AsyncHttpsProxySocket::EndResponse() {
  if (!expect_close_ && !new_connection_) {
    SendRequest();
    return;
  }
  // The proxy closes after its answer: reconnect and send the authorised request there.
  state_ = PS_WAIT_CLOSE;
  wrapped()->Close();
  OnCloseEvent(wrapped(), 0);
}

void AsyncHttpsProxySocket::OnCloseEvent(EventSocket* socket, int error) {
  if (state_ == PS_WAIT_CLOSE && error == 0) {
    state_ = PS_INIT;
    ClearBuffer();
    BufferInput(true);
    wrapped()->Connect(proxy_);
    return;
  }
  LOG(kVerbose) << "AsyncHttpsProxySocket::OnCloseEvent(" << error << ")";
  BufferedReadAdapter::OnCloseEvent(socket, error);
}

void AsyncHttpsProxySocket::OnBufferOverflow() {
  LOG(kWarning) << "AsyncHttpsProxySocket: proxy answer line too long";
  Fail(0);
}

void AsyncHttpsProxySocket::ReportIncompatibleProxy() {
  if (incompatibility_reported.exchange(true)) return;
  std::lock_guard<std::mutex> hold(handler_lock);
  std::string text =
      "Unable to connect to the Vexalo service due to an incompatibility with your "
      "proxy.\r\nPlease help us resolve this issue by submitting the following information to "
      "us using our technical issue submission form at:\r\n\r\n" +
      support_form_address +
      "\r\n\r\nWe apologize for the inconvenience.\r\n\r\nInformation to submit to Ombrix: " +
      ignored_mechanisms_;
  LOG(kWarning) << "Proxy offers no usable authentication: " << ignored_mechanisms_;
  if (incompatible_handler) incompatible_handler("Oops!", text);
}

void AsyncHttpsProxySocket::Fail(int error) {
  BufferInput(false);
  Close();
  SetError(error);
  CloseEvent.Emit(this, error);
}

}  // namespace vexalo
