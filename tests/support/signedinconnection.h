#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/runtime/loopthread.h"
#include "base/runtime/queuetaskrunner.h"
#include "base/runtime/threadregistry.h"
#include "support/fakeservicesocket.h"
#include "xmpp/stream/xmppconnection.h"

namespace vexalo {

// An XmppConnection already signed in over a scripted socket, for stanza transcripts: a test
// creates its service tasks under connection(), injects the server's stanzas with
// ServerSends and reads what the client wrote with TakeSent. Ids from NextId are "0", "1", ...
// counted from the login's own (bind and session take "0" and "1").
class SignedInConnection {
 public:
  explicit SignedInConnection(std::string_view node = "alice", std::string_view domain = "example.net",
                              std::string_view resource = "desk",
                              QueueTaskRunner::Clock clock = nullptr)
      : runner(nullptr, std::move(clock)) {
    connection_ = new XmppConnection(&runner);
    // The runner deletes the connection once it closed; nothing may touch it after that.
    connection_->SignalStateChange.Connect(&observer_, [this](EngineState state) {
      if (state == EngineState::kClosed) closed_ = true;
    });
    auto socket = std::make_unique<FakeServiceSocket>();
    socket_ = socket.get();
    ConnectionSettings settings;
    settings.user = node;
    settings.host = domain;
    settings.password = SecretText::FromClearText("pw");
    settings.resource = resource;
    settings.use_tls = false;
    settings.server = SocketAddress(0x7F000001, 5222);
    settings.allow_clear_login_on_loopback = true;
    connection_->Connect(settings, std::move(socket), nullptr);
    connection_->Start();
    Pump();
    socket_->Connected();
    const std::string header =
        "<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams' "
        "from='" + std::string(domain) + "' id='s' version='1.0'>";
    ServerSends(header +
                "<stream:features><mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
                "<mechanism>PLAIN</mechanism></mechanisms></stream:features>");
    ServerSends("<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>");
    ServerSends(header +
                "<stream:features><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/>"
                "<session xmlns='urn:ietf:params:xml:ns:xmpp-session'/></stream:features>");
    ServerSends("<iq type='result' id='0'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'><jid>" +
                std::string(node) + "@" + std::string(domain) + "/" + std::string(resource) +
                "</jid></bind></iq>");
    ServerSends("<iq type='result' id='1'/>");
    TakeSent();
  }
  ~SignedInConnection() {
    if (!closed_) connection_->engine()->Disconnect();
    Pump();
  }

  // Null once the connection closed (the runner has deleted it, or soon will).
  XmppConnection* connection() const { return closed_ ? nullptr : connection_; }
  bool open() const {
    return !closed_ && connection_->engine()->GetState() == EngineState::kOpen;
  }
  bool closed() const { return closed_; }

  // Delivers the server's bytes and lets the tasks run.
  void ServerSends(std::string_view xml) {
    if (closed_) return;
    socket_->incoming.append(xml);
    socket_->Readable();
    Pump();
  }
  // What the client wrote since the last call.
  std::string TakeSent() {
    Pump();
    if (closed_) return {};
    std::string sent;
    sent.swap(socket_->written);
    return sent;
  }
  void Pump() {
    for (int i = 0; i < 5; ++i) ThreadRegistry::Current()->RunFor(0);
  }

  QueueTaskRunner runner;

 private:
  SlotHost observer_;
  XmppConnection* connection_;
  FakeServiceSocket* socket_;
  bool closed_ = false;
};

}  // namespace vexalo
