#pragma once

// A client of ours signed in to a real server, for tests with live peers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/runtime/queuetaskrunner.h"
#include "base/net/stackedservicesocket.h"
#include "xmpp/stream/xmppconnection.h"
#include "xmpp/stream/xmpptrafficlog.h"

namespace vexalo {

// Settings for an account on a local test server (domain "localhost", see ProsodyPeer).
inline ConnectionSettings LocalServerSettings(uint16_t port, const std::string& user,
                                              const std::string& password,
                                              const std::string& resource = "test") {
  ConnectionSettings settings;
  settings.user = user;
  settings.host = "localhost";
  settings.password = SecretText::FromClearText(password);
  settings.resource = resource;
  settings.server = SocketAddress(0x7F000001u, port);
  return settings;
}

// One sign-in attempt observed from outside; the runner owns (and deletes) the connection.
class LiveClient : public SlotHost {
 public:
  // `authenticator` (optional) runs its pre-login step before the login and chooses the
  // mechanism; without one the connection uses PLAIN with the password.
  LiveClient(QueueTaskRunner* runner, const ConnectionSettings& settings, const std::string& ca_file,
             std::unique_ptr<PreLoginAuthenticator> authenticator = nullptr) {
    connection_ = new XmppConnection(runner);
    auto socket = std::make_unique<StackedServiceSocket>(StackedServiceSocket::PROTO_TCP,
                                                         ProxySettings(), "Vexalo/test");
    if (!ca_file.empty()) socket->SetCaFile(ca_file);
    socket_ = socket.get();
    connection_->SignalStateChange.Connect(this, &LiveClient::OnState);
    connection_->SignalLogInput.Connect(this, [this](const char* b, size_t n) { log.LogInput(b, n); });
    connection_->SignalLogOutput.Connect(this, [this](const char* b, size_t n) { log.LogOutput(b, n); });
    EXPECT_EQ(connection_->Connect(settings, std::move(socket), std::move(authenticator)),
              EngineResult::kOk);
    connection_->Start();
  }
  ~LiveClient() override {
    if (connection_ != nullptr) connection_->engine()->Disconnect();
  }
  void OnState(EngineState state) {
    states.push_back(state);
    if (state == EngineState::kClosed) {
      error = connection_->GetError();
      captcha = connection_->GetCaptchaChallenge();
      socket_error = socket_->GetSocketError();
      connection_ = nullptr;  // the runner deletes it soon
    }
  }
  bool Open() const { return !states.empty() && states.back() == EngineState::kOpen; }
  bool Closed() const { return !states.empty() && states.back() == EngineState::kClosed; }
  XmppConnection* connection() const { return connection_; }
  std::string Traffic() const { return traffic; }

  std::vector<EngineState> states;
  EngineError error = EngineError::kNone;
  // The pre-login step's challenge when it refused the account.
  std::string captcha;
  int socket_error = 0;
  std::string traffic;
  XmppTrafficLog log{[this](std::string_view line) { traffic.append(line).append("\n"); }};

 private:
  XmppConnection* connection_;
  ServiceSocket* socket_;
};

}  // namespace vexalo
