#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "base/runtime/logging.h"
#include "p2p/base/connection.h"
#include "p2p/base/relayport.h"
#include "p2p/rawpeer.h"
#include "p2p/virtualqueue.h"
#include "relayd/relayserver.h"
#include "relayd/relaysessionstore.h"

namespace vexalo {

inline const Network kLoopbackNetwork{"lo", 0x7F000001};
inline constexpr uint32_t kLoopback = 0x7F000001;

// A relay server and a relay port on one virtual clock, with a bare UDP peer on the far side
// of the relay.
class RelayFixture : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    limits_.allow_loopback_peers = true;
    if (getenv("RELAY_TEST_LOG")) LogToDebug(kVerbose);
    StartServer();
  }

  void StartServer() {
    sessions_ = std::make_unique<RelaySessionStore>(limits_.max_sessions,
                                                    limits_.session_lifetime_ms);
    server_ = std::make_unique<RelayServer>(&queue_, sessions_.get(), limits_);
    ASSERT_TRUE(server_->Start(kLoopback, 0, 0, 0, 0));
    session_ = *sessions_->Create(queue_.Now());
  }

  std::unique_ptr<RelayPort> MakePort(const std::string& cookie) {
    auto port = std::make_unique<RelayPort>(&queue_, nullptr, kLoopbackNetwork,
                                            SocketAddress(kLoopback, 0), session_.username,
                                            session_.password, cookie);
    port->AddressReady.Connect(this, [this](Port*) { ++ready_; });
    return port;
  }

  ProtocolAddress Server(ProtocolType proto) const {
    int port = proto == PROTO_UDP   ? server_->udp_port()
               : proto == PROTO_TCP ? server_->tcp_port()
                                    : server_->ssltcp_port();
    return ProtocolAddress{SocketAddress(kLoopback, static_cast<uint16_t>(port)), proto};
  }

  // Runs the loop, with short real waits for the sockets, until `done` or about two seconds.
  bool RunUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 200 && !done(); ++i) {
      // The virtual clock stands still: wait on the sockets, not on the queue.
      queue_.hub()->Wait(10, true);
      queue_.RunDue();
    }
    return done();
  }

  // A connection on `port` to the peer that accepts the peer's packets.
  Connection* ConnectionTo(Port* port, const SocketAddress& address) {
    Candidate remote;
    remote.protocol = "udp";
    remote.address = address;
    Connection* connection = port->CreateConnection(remote, ORIGIN_MESSAGE);
    connection->ReceivedPing();
    connection->PacketReceived.Connect(this, [this](Connection*, const char* data, size_t size) {
      delivered_.emplace_back(data, size);
    });
    return connection;
  }

  RelayLimits limits_;
  VirtualQueue queue_;
  std::unique_ptr<RelaySessionStore> sessions_;
  std::unique_ptr<RelayServer> server_;
  RelaySession session_;
  int ready_ = 0;
  std::vector<std::string> delivered_;
};

}  // namespace vexalo
