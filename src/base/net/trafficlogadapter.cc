#include "base/net/trafficlogadapter.h"

#include "base/runtime/trafficlog.h"

namespace vexalo {

TrafficLogAdapter::TrafficLogAdapter(EventSocket* socket, LogSeverity severity,
                                     const std::string& label, bool binary)
    : SocketAdapter(socket), severity_(severity), label_(label), tag_("[" + label + "]"), binary_(binary) {}

void TrafficLogAdapter::Log(bool sent, const void* data, int length) {
  if (length <= 0) return;
  LogTraffic(severity_, label_, sent ? TrafficDirection::kSent : TrafficDirection::kReceived,
             data, static_cast<size_t>(length), binary_);
}

int TrafficLogAdapter::Send(const void* data, size_t length) {
  int n = SocketAdapter::Send(data, length);
  Log(true, data, n);
  return n;
}

int TrafficLogAdapter::SendTo(const void* data, size_t length, const SocketAddress& address) {
  int n = SocketAdapter::SendTo(data, length, address);
  Log(true, data, n);
  return n;
}

int TrafficLogAdapter::Recv(void* buffer, size_t size) {
  int n = SocketAdapter::Recv(buffer, size);
  Log(false, buffer, n);
  return n;
}

int TrafficLogAdapter::RecvFrom(void* buffer, size_t size, SocketAddress* from) {
  int n = SocketAdapter::RecvFrom(buffer, size, from);
  Log(false, buffer, n);
  return n;
}

void TrafficLogAdapter::OnConnectEvent(EventSocket* socket) {
  LOG_V(severity_) << tag_ << " Connected";
  SocketAdapter::OnConnectEvent(socket);
}

void TrafficLogAdapter::OnCloseEvent(EventSocket* socket, int error) {
  LOG_V(severity_) << tag_ << " Closed with error: " << error;
  SocketAdapter::OnCloseEvent(socket, error);
}

}  // namespace vexalo
