#pragma once

#include <functional>
#include <memory>
#include <string>

#include "p2p/base/connection.h"
#include "p2p/base/tcpport.h"

namespace vexalo {

// Two TCP ports on loopback: `dialer` reaches `listener`'s candidate (directly or through
// whatever proxy the dialer was given), the listener claims the accepted stream when the
// first check arrives, as the P2P socket does, and the two check each other.
class TcpPair : public SlotHost {
 public:
  // Runs the loop until the condition holds (or gives up); returns it.
  using RunUntil = std::function<bool(const std::function<bool()>&)>;

  TcpPair(EventQueue* queue, RunUntil run_until, const SocketAddress& listen_at)
      : run_until_(std::move(run_until)),
        dialer_(std::make_unique<TcpPort>(queue, nullptr, Network{"lo", 0x7F000001},
                                          SocketAddress(0x7F000001, 0))),
        listener_(std::make_unique<TcpPort>(queue, nullptr, Network{"lo", 0x7F000001},
                                            listen_at)) {
    listener_->UnknownAddress.Connect(this, [this](Port* port, const SocketAddress& from,
                                                   const StunPacket& request,
                                                   const std::string& remote_username) {
      Candidate remote;
      remote.protocol = "tcp";
      remote.address = from;
      remote.username = remote_username;
      accepted_ = port->CreateConnection(remote, ORIGIN_THIS_PORT);
      port->SendBindingResponse(request, from);
    });
  }

  TcpPort* dialer() { return dialer_.get(); }
  TcpPort* listener() { return listener_.get(); }
  Connection* dialed() { return dialed_; }
  Connection* accepted() { return accepted_; }

  // Dials `target` (the listener's candidate, or a stand-in such as a relay) with the given
  // protocol, then checks both ways. False, with what went wrong, when the pair does not
  // become readable and writable on both sides.
  bool ConnectAndCheck(const std::string& protocol, const SocketAddress& target,
                       std::string* failure) {
    dialer_->PrepareAddress();
    listener_->PrepareAddress();
    Candidate remote = listener_->candidates().at(0);
    remote.protocol = protocol;
    remote.address = target;
    dialed_ = dialer_->CreateConnection(remote, ORIGIN_MESSAGE);
    if (!dialed_) return Fail("no outgoing connection", failure);
    // The dialer checks until the listener has claimed the stream and answered.
    auto writable = [this] {
      return dialed_->write_state() == Connection::STATE_WRITE_CONFIRMED;
    };
    for (int i = 0; i < 20 && !writable(); ++i) {
      dialed_->Ping(dialer_->thread()->Now());
      run_until_(writable);
    }
    if (!writable()) return Fail("dialer never writable", failure);
    if (!accepted_) return Fail("listener never claimed the stream", failure);
    accepted_->Ping(listener_->thread()->Now());
    if (!run_until_([this] {
          return accepted_->write_state() == Connection::STATE_WRITE_CONFIRMED &&
                 dialed_->read_state() == Connection::STATE_READ_LIVE;
        })) {
      return Fail("listener never writable", failure);
    }
    return true;
  }

  // Sends `data` from the dialer and returns what the listener received.
  std::string Carry(const std::string& data) {
    std::string got;
    accepted_->PacketReceived.Connect(this, [&](Connection*, const char* bytes, size_t size) {
      got.append(bytes, size);
    });
    dialed_->Send(data.data(), data.size());
    run_until_([&] { return got.size() >= data.size(); });
    accepted_->PacketReceived.Disconnect(this);
    return got;
  }

 private:
  static bool Fail(const char* what, std::string* failure) {
    *failure = what;
    return false;
  }

  RunUntil run_until_;
  std::unique_ptr<TcpPort> dialer_;
  std::unique_ptr<TcpPort> listener_;
  Connection* dialed_ = nullptr;
  Connection* accepted_ = nullptr;
};

}  // namespace vexalo
