#include "base/net/stackedservicesocket.h"

#include "base/proxy/asynchttpsproxysocket.h"
#include "base/proxy/asyncsocks5proxysocket.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/net/rulefilteringhub.h"
#include "base/net/socketerrors.h"
#include "base/net/ssltcpadapter.h"
#include "base/runtime/threadregistry.h"
#include "base/tls/tlsadapter.h"

namespace vexalo {

StackedServiceSocket::StackedServiceSocket(Protocol protocol, const ProxySettings& proxy,
                                           const std::string& user_agent)
    : protocol_(protocol), proxy_(proxy), user_agent_(user_agent) {}

StackedServiceSocket::~StackedServiceSocket() { DestroyStack(); }

void StackedServiceSocket::DestroyStack() {
  delete stack_;
  stack_ = nullptr;
  tls_ = nullptr;
}

void StackedServiceSocket::SetError(Error error, int socket_error) {
  // Only the first error counts until Close clears it.
  if (error_ != ERROR_NONE) return;
  error_ = error;
  socket_error_ = socket_error;
}

bool StackedServiceSocket::Connect(const SocketAddress& address) {
  if (state_ != STATE_CLOSED) {
    SetError(ERROR_WRONGSTATE);
    return false;
  }
  LOG(kInfo) << "StackedServiceSocket::Connect(" << address.ToString() << ")";
  DestroyStack();
  // A new attempt starts without the last one's error.
  error_ = ERROR_NONE;
  socket_error_ = 0;

  SocketHub* hub = simulation_hub_ ? static_cast<SocketHub*>(simulation_hub_)
                                   : ThreadRegistry::Current()->hub();
  EventSocket* socket = hub->CreateEventSocket(kStreamSocket);
  if (!socket) {
    SetError(ERROR_WINSOCK, kSocketNoBuffers);
    return false;
  }
  if (proxy_.type == PROXY_SOCKS5) {
    socket = new AsyncSocks5ProxySocket(socket, proxy_.address, proxy_.username, proxy_.password);
  } else if (proxy_.type != PROXY_NONE) {
    socket = new AsyncHttpsProxySocket(socket, user_agent_, proxy_.address, proxy_.username,
                                       proxy_.password);
  }
  if (protocol_ == PROTO_SSLTCP) socket = new SslTcpAdapter(socket);
  tls_ = new TlsAdapter(socket);
  if (!ca_file_.empty()) tls_->SetCaFile(ca_file_);
  stack_ = tls_;

  stack_->ReadEvent.Connect(this, &StackedServiceSocket::OnReadEvent);
  stack_->WriteEvent.Connect(this, &StackedServiceSocket::OnWriteEvent);
  stack_->ConnectEvent.Connect(this, &StackedServiceSocket::OnConnectEvent);
  stack_->CloseEvent.Connect(this, &StackedServiceSocket::OnCloseEvent);

  if (stack_->Connect(address) == -1 && !IsBlockingError(stack_->GetError())) {
    SetError(ERROR_WINSOCK, stack_->GetError());
    DestroyStack();
    return false;
  }
  state_ = STATE_CONNECTING;
  return true;
}

void StackedServiceSocket::OnConnectEvent(EventSocket*) {
  if (state_ == STATE_CONNECTING) {
    state_ = STATE_OPEN;
    LOG(kInfo) << "StackedServiceSocket::OnConnectEvent - STATE_OPEN";
    Connected.Emit();
  } else if (state_ == STATE_TLS_CONNECTING) {
    state_ = STATE_TLS_OPEN;
    LOG(kInfo) << "StackedServiceSocket::OnConnectEvent - STATE_TLS_OPEN";
    TlsConnected.Emit();
    if (!output_.empty()) Flush();
  }
}

bool StackedServiceSocket::StartTls(const std::string& domain) {
  if (state_ != STATE_OPEN) {
    SetError(ERROR_WRONGSTATE);
    return false;
  }
  if (tls_->StartSSL(domain, false) != 0) {
    SetError(ERROR_SSL);
    return false;
  }
  state_ = STATE_TLS_CONNECTING;
  return true;
}

bool StackedServiceSocket::Read(char* buffer, size_t size, size_t* count) {
  *count = 0;
  if (state_ == STATE_CLOSED || state_ == STATE_CLOSING) {
    SetError(ERROR_WRONGSTATE);
    return false;
  }
  if (!IsOpen()) return true;
  int n = stack_->Recv(buffer, size);
  if (n >= 0) {
    *count = static_cast<size_t>(n);
    return true;
  }
  if (IsBlockingError(stack_->GetError())) return true;
  SetError(ERROR_WINSOCK, stack_->GetError());
  return false;
}

void StackedServiceSocket::OnReadEvent(EventSocket*) {
  if (IsOpen()) Readable.Emit();
}

bool StackedServiceSocket::Write(const char* data, size_t length) {
  if (state_ == STATE_CLOSED || state_ == STATE_CLOSING) {
    SetError(ERROR_WRONGSTATE);
    return false;
  }
  size_t sent = 0;
  if (output_.empty() && IsOpen()) {
    int n = stack_->Send(data, length);
    if (n < 0) {
      if (!IsBlockingError(stack_->GetError())) {
        SetError(ERROR_WINSOCK, stack_->GetError());
        return false;
      }
    } else {
      sent = static_cast<size_t>(n);
    }
  }
  if (sent < length) {
    // The peer is slow or the connection not yet open: keep what waits, within reason.
    if (output_.size() + (length - sent) > kMaxBufferedOutput) {
      LOG(kWarning) << "StackedServiceSocket: output buffer full, closing";
      SetError(ERROR_WINSOCK, kSocketNoBuffers);
      Close();
      return false;
    }
    output_.insert(output_.end(), data + sent, data + length);
  }
  return Flush();
}

void StackedServiceSocket::OnWriteEvent(EventSocket*) { Flush(); }

bool StackedServiceSocket::Flush() {
  if (!IsOpen()) return false;
  size_t sent = 0;
  bool failed = false;
  while (sent < output_.size()) {
    int n = stack_->Send(output_.data() + sent, output_.size() - sent);
    if (n <= 0) {
      failed = n < 0 && !IsBlockingError(stack_->GetError());
      break;
    }
    sent += static_cast<size_t>(n);
  }
  output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(sent));
  if (output_.empty() && output_.capacity() > 8192) std::vector<char>().swap(output_);
  if (failed) {
    Close();
    return false;
  }
  return true;
}

void StackedServiceSocket::OnCloseEvent(EventSocket*, int error) {
  LOG(kInfo) << "StackedServiceSocket::OnCloseEvent(" << error << ")";
  if (error != 0) SetError(ERROR_WINSOCK, error);
  if (error == kSocketAccessDenied) ProxyAuthenticationRequired.Emit();
  NotifyClose();
}

void StackedServiceSocket::NotifyClose() {
  if (state_ == STATE_CLOSED) {
    SetError(ERROR_WRONGSTATE);
    return;
  }
  LOG(kInfo) << "StackedServiceSocket::NotifyClose - Error: " << error_
             << " WSAError: " << socket_error_;
  state_ = STATE_CLOSED;
  std::vector<char>().swap(output_);
  Closed.Emit();
}

bool StackedServiceSocket::Close() {
  if (state_ == STATE_CLOSING) return false;
  if (state_ == STATE_CLOSED) {
    SetError(ERROR_WRONGSTATE);
    return false;
  }
  state_ = STATE_CLOSING;
  if (stack_) stack_->Close();
  if (state_ != STATE_CLOSED) {
    if (error_ != ERROR_NONE) {
      LOG(kInfo) << "StackedServiceSocket::Close - previous Error: " << error_
                 << " WSAError: " << socket_error_;
      error_ = ERROR_NONE;
      socket_error_ = 0;
    }
    NotifyClose();
  }
  return true;
}

}  // namespace vexalo
