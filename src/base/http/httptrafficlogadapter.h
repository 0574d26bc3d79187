#pragma once

#include <string>
#include <string_view>

#include "base/runtime/logging.h"
#include "base/net/socketadapter.h"

namespace vexalo {

// Logs the HTTP traffic that passes under a label, as text: leader and header lines, with
// the values of credential and cookie headers removed, and bodies only as their size (form
// posts carry passwords, answers carry tokens).
class HttpTrafficLogAdapter : public SocketAdapter {
 public:
  HttpTrafficLogAdapter(EventSocket* socket, LogSeverity severity, const std::string& label);

  int Send(const void* data, size_t length) override;
  int Recv(void* buffer, size_t size) override;

  // The log form of one header or leader line.
  static std::string RedactLine(std::string_view line);

 protected:
  void OnConnectEvent(EventSocket* socket) override;
  void OnCloseEvent(EventSocket* socket, int error) override;

 private:
  struct Direction {
    bool in_body = false;
    std::string partial;  // a header line not yet ended
  };
  void Log(Direction* direction, const char* arrow, std::string_view data);

  LogSeverity severity_;
  std::string tag_;
  Direction sent_;
  Direction received_;
};

}  // namespace vexalo
