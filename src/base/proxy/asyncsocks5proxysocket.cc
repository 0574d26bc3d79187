#include "base/proxy/asyncsocks5proxysocket.h"

#include <cstring>
#include <string>

#include "base/runtime/logging.h"
#include "base/net/socketerrors.h"

namespace vexalo {
namespace {

// SOCKS5 carries names and passwords behind a one-byte length.
constexpr size_t kMaxFieldLength = 255;

}  // namespace

AsyncSocks5ProxySocket::AsyncSocks5ProxySocket(EventSocket* socket, const SocketAddress& proxy,
                                               const std::string& username,
                                               const SecretText& password)
    : BufferedReadAdapter(socket), proxy_(proxy), username_(username), password_(password) {}

int AsyncSocks5ProxySocket::Connect(const SocketAddress& destination) {
  destination_ = destination;
  state_ = SS_HELLO;
  BufferInput(true);
  return BufferedReadAdapter::Connect(proxy_);
}

int AsyncSocks5ProxySocket::Close() {
  ClearBuffer();
  return BufferedReadAdapter::Close();
}

void AsyncSocks5ProxySocket::OnConnectEvent(EventSocket*) {
  if (username_.empty()) {
    static const unsigned char kHello[] = {0x05, 0x01, 0x00};
    wrapped()->Send(kHello, sizeof(kHello));
  } else {
    static const unsigned char kHello[] = {0x05, 0x02, 0x00, 0x02};
    wrapped()->Send(kHello, sizeof(kHello));
  }
  state_ = SS_HELLO;
}

bool AsyncSocks5ProxySocket::SendAuthRequest() {
  if (username_.size() > kMaxFieldLength || password_.GetLength() > kMaxFieldLength) {
    LOG(kWarning) << "SOCKS5 user name or password longer than 255 bytes";
    return false;
  }
  std::string request;
  request.push_back(0x01);
  request.push_back(static_cast<char>(username_.size()));
  request += username_;
  {
    ScopedClearText password(password_);
    request.push_back(static_cast<char>(password.size()));
    request.append(password.data(), password.size());
  }
  wrapped()->Send(request.data(), request.size());
  SecureZero(request.data(), request.size());
  state_ = SS_AUTH;
  return true;
}

bool AsyncSocks5ProxySocket::SendConnectRequest() {
  std::string request = {0x05, 0x01, 0x00};
  if (destination_.IsUnresolved()) {
    const std::string& name = destination_.hostname();
    if (name.size() > kMaxFieldLength) {
      LOG(kWarning) << "SOCKS5 destination name longer than 255 bytes";
      return false;
    }
    request.push_back(0x03);
    request.push_back(static_cast<char>(name.size()));
    request += name;
  } else if (destination_.IsIPv6()) {
    request.push_back(0x04);
    for (uint8_t byte : destination_.ipv6()) request.push_back(static_cast<char>(byte));
  } else {
    uint32_t ip = destination_.ip();
    request.push_back(0x01);
    for (int shift = 24; shift >= 0; shift -= 8) request.push_back(static_cast<char>(ip >> shift));
  }
  request.push_back(static_cast<char>(destination_.port() >> 8));
  request.push_back(static_cast<char>(destination_.port() & 0xFF));
  wrapped()->Send(request.data(), request.size());
  state_ = SS_CONNECT;
  return true;
}

void AsyncSocks5ProxySocket::ProcessInput(char* buffer, size_t* length) {
  const unsigned char* in = reinterpret_cast<const unsigned char*>(buffer);
  size_t used = 0;
  switch (state_) {
    case SS_HELLO:
      if (*length < 2) return;
      used = 2;
      if (in[0] != 5) return Fail(0);
      if (in[1] == 0) {
        if (!SendConnectRequest()) return Fail(kSocketInvalidArgument);
      } else if (in[1] == 2) {
        if (!SendAuthRequest()) return Fail(kSocketInvalidArgument);
      } else {
        return Fail(0);
      }
      break;
    case SS_AUTH:
      if (*length < 2) return;
      used = 2;
      if (in[0] != 1 || in[1] != 0) return Fail(kSocketAccessDenied);
      if (!SendConnectRequest()) return Fail(kSocketInvalidArgument);
      break;
    case SS_CONNECT: {
      if (*length < 4) return;
      if (in[0] != 5 || in[1] != 0) return Fail(0);
      size_t need;
      std::string bound;
      if (in[3] == 1) {
        need = 4 + 4 + 2;
        if (*length < need) return;
        uint32_t ip = (uint32_t{in[4]} << 24) | (uint32_t{in[5]} << 16) | (uint32_t{in[6]} << 8) | in[7];
        bound = SocketAddress::IPToString(ip);
      } else if (in[3] == 3) {
        if (*length < 5) return;
        need = 4 + 1 + in[4] + 2;
        if (*length < need) return;
        bound.assign(buffer + 5, in[4]);
      } else if (in[3] == 4) {
        need = 4 + 16 + 2;
        if (*length < need) return;
        bound = "<IPV6>";
      } else {
        return Fail(0);
      }
      uint16_t port = static_cast<uint16_t>((in[need - 2] << 8) | in[need - 1]);
      LOG(kVerbose) << "Bound on " << bound << ":" << port;
      used = need;
      state_ = SS_TUNNEL;
      break;
    }
    default:
      return;
  }
  *length -= used;
  std::memmove(buffer, buffer + used, *length);
  if (state_ == SS_TUNNEL) {
    BufferInput(false);
    ConnectEvent.Emit(this);
    if (*length > 0) ReadEvent.Emit(this);
  } else if (*length > 0) {
    ProcessInput(buffer, length);  // a proxy may answer several steps in one read
  }
}

void AsyncSocks5ProxySocket::OnBufferOverflow() { Fail(0); }

void AsyncSocks5ProxySocket::Fail(int error) {
  state_ = SS_ERROR;
  BufferInput(false);
  Close();
  // The owner reads a credentials problem from GetError and the detail from the event.
  SetError(kSocketAccessDenied);
  CloseEvent.Emit(this, error);
}

}  // namespace vexalo
