#pragma once

#include <algorithm>
#include <string>

#include "base/net/servicesocket.h"

namespace vexalo {

// A service socket that records what the connection asks of it; the test plays the network:
// it fills `incoming` and raises Readable, raises Connected or Closed, and reads `written`.
class FakeServiceSocket : public ServiceSocket {
 public:
  State GetState() const override { return state; }
  Error GetError() const override { return ERROR_NONE; }
  int GetSocketError() const override { return 0; }
  bool Connect(const SocketAddress& address) override {
    connect_to = address;
    state = STATE_CONNECTING;
    return accept_connect;
  }
  bool Read(char* buffer, size_t size, size_t* count) override {
    *count = std::min(size, incoming.size());
    incoming.copy(buffer, *count);
    incoming.erase(0, *count);
    return true;
  }
  bool Write(const char* data, size_t length) override {
    written.append(data, length);
    return true;
  }
  bool Close() override {
    state = STATE_CLOSED;
    ++closes;
    return true;
  }
  bool StartTls(const std::string&) override { return true; }

  State state = STATE_CLOSED;
  bool accept_connect = true;
  SocketAddress connect_to;
  std::string incoming;
  std::string written;
  int closes = 0;
};

}  // namespace vexalo
