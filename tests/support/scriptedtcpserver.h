#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/sockettestutil.h"

namespace vexalo {

// A server on loopback driven by the test: it accepts connections and hands each chunk of
// received bytes to `on_data`, which may answer through `Connection::Send` or close.
class ScriptedTcpServer : public SlotHost {
 public:
  struct Connection {
    std::unique_ptr<EventSocket> socket;
    std::string received;
    bool closed = false;
    void Send(const std::string& bytes) { socket->Send(bytes.data(), bytes.size()); }
  };

  // Listens on 127.0.0.1, or on `bind` (e.g. [::1]) when given; see listening().
  explicit ScriptedTcpServer(const SocketAddress& bind = Loopback()) {
    listener_.reset(CurrentHub()->CreateEventSocket(kStreamSocket));
    listening_ = listener_->Bind(bind) == 0 && listener_->Listen(8) == 0;
    listener_->ReadEvent.Connect(this, &ScriptedTcpServer::OnAccept);
  }

  // False when the address could not be bound (no IPv6 on this machine, say).
  bool listening() const { return listening_; }
  SocketAddress address() const { return listener_->GetLocalAddress(); }
  std::vector<std::unique_ptr<Connection>>& connections() { return connections_; }

  // Called with the connection index and the connection after every read.
  std::function<void(size_t, Connection*)> on_data;

 private:
  void OnAccept(EventSocket*) {
    EventSocket* accepted = listener_->Accept(nullptr);
    if (!accepted) return;
    auto connection = std::make_unique<Connection>();
    connection->socket.reset(accepted);
    size_t index = connections_.size();
    Connection* raw = connection.get();
    accepted->ReadEvent.Connect(this, [this, index, raw](EventSocket* s) {
      char buffer[4096];
      int n;
      while ((n = s->Recv(buffer, sizeof(buffer))) > 0) raw->received.append(buffer, n);
      if (on_data) on_data(index, raw);
    });
    accepted->CloseEvent.Connect(this, [raw](EventSocket*, int) { raw->closed = true; });
    connections_.push_back(std::move(connection));
  }

  std::unique_ptr<EventSocket> listener_;
  bool listening_ = false;
  std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace vexalo
