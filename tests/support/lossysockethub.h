#pragma once

// Test fixture only: a hub whose datagram sockets lose a share of what they send, drawn from
// a seeded generator so that every run loses the same packets.

#include <memory>
#include <random>

#include "base/net/eventsocket.h"
#include "base/net/socketadapter.h"
#include "base/net/sockethub.h"

namespace vexalo {

class LossySocketHub : public SocketHub {
 public:
  LossySocketHub(SocketHub* hub, double loss, uint32_t seed)
      : hub_(hub), loss_(loss), random_(seed) {}

  EventSocket* CreateEventSocket(int type) override {
    EventSocket* socket = hub_->CreateEventSocket(type);
    if (socket == nullptr || type != kDatagramSocket) return socket;
    return new LossySocket(socket, this);
  }
  bool Wait(int ms, bool process_io) override { return hub_->Wait(ms, process_io); }
  void WakeUp() override { hub_->WakeUp(); }

  int dropped() const { return dropped_; }

 private:
  class LossySocket : public SocketAdapter {
   public:
    LossySocket(EventSocket* socket, LossySocketHub* hub) : SocketAdapter(socket), hub_(hub) {}
    int SendTo(const void* data, size_t length, const SocketAddress& address) override {
      if (hub_->Drop()) return static_cast<int>(length);
      return SocketAdapter::SendTo(data, length, address);
    }

   private:
    LossySocketHub* hub_;
  };

  bool Drop() {
    if (std::uniform_real_distribution<double>(0, 1)(random_) >= loss_) return false;
    ++dropped_;
    return true;
  }

  SocketHub* hub_;
  double loss_;
  std::mt19937 random_;
  int dropped_ = 0;
};

}  // namespace vexalo
