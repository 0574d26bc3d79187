#pragma once

#include <string>

#include "base/runtime/logging.h"
#include "base/net/socketadapter.h"

namespace vexalo {

// Logs every byte that passes, and connects and closes, under a label; text traffic with the
// lines that carry account names or passwords removed.
class TrafficLogAdapter : public SocketAdapter {
 public:
  TrafficLogAdapter(EventSocket* socket, LogSeverity severity, const std::string& label,
                    bool binary);

  int Send(const void* data, size_t length) override;
  int SendTo(const void* data, size_t length, const SocketAddress& address) override;
  int Recv(void* buffer, size_t size) override;
  int RecvFrom(void* buffer, size_t size, SocketAddress* from) override;

 protected:
  void OnConnectEvent(EventSocket* socket) override;
  void OnCloseEvent(EventSocket* socket, int error) override;

 private:
  void Log(bool sent, const void* data, int length);

  LogSeverity severity_;
  std::string label_;  // as given
  std::string tag_;    // "[label]"
  bool binary_;
};

}  // namespace vexalo
