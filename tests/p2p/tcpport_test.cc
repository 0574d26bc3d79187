#include "p2p/base/tcpport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/net/socketerrors.h"
#include "p2p/base/streamconnection.h"
#include "p2p/tcppair.h"
#include "p2p/virtualqueue.h"
#include "support/logcapture.h"

namespace vexalo {
namespace {

const SocketAddress kLoopbackAny(0x7F000001, 0);

class TcpPortTest : public ::testing::Test {
 protected:
  TcpPair::RunUntil Runner() {
    return [this](const std::function<bool()>& done) {
      for (int i = 0; i < 50 && !done(); ++i) queue_.RunDue();
      return done();
    };
  }

  VirtualQueue queue_;
};

TEST_F(TcpPortTest, TwoPortsCheckAndCarryDataOverOneStream) {
  TcpPair pair(&queue_, Runner(), kLoopbackAny);
  std::string failure;
  ASSERT_TRUE(pair.ConnectAndCheck("tcp", pair.listener()->local_address(), &failure))
      << failure;
  EXPECT_EQ(pair.listener()->incoming_count(), 0u);  // claimed by the connection
  EXPECT_EQ(pair.listener()->candidates()[0].protocol, "tcp");
  EXPECT_EQ(pair.Carry("media over tcp"), "media over tcp");

  EXPECT_EQ(pair.dialed()->bytes_sent(), 14u);
  EXPECT_EQ(pair.accepted()->bytes_received(), 14u);
}

TEST_F(TcpPortTest, ClosedStreamFailsTheConnection) {
  TcpPair pair(&queue_, Runner(), kLoopbackAny);
  std::string failure;
  ASSERT_TRUE(pair.ConnectAndCheck("tcp", pair.listener()->local_address(), &failure))
      << failure;
  Connection* dialed = pair.dialed();
  static_cast<StreamConnection*>(pair.accepted())->socket()->Close();
  Runner()([&] { return !dialed->connected(); });
  EXPECT_FALSE(dialed->connected());
  EXPECT_EQ(dialed->write_state(), Connection::STATE_WRITE_FAILED);
}

TEST_F(TcpPortTest, WhichCandidatesGetAConnection) {
  TcpPort open(&queue_, nullptr, Network{"lo", 0x7F000001}, kLoopbackAny);
  TcpPort fixed(&queue_, nullptr, Network{"lo", 0x7F000001}, SocketAddress(0x7F000001, 0));
  Candidate remote;
  remote.address = SocketAddress(0x7F000001, 9);  // nothing listens there
  struct Case {
    const char* protocol;
    CandidateOrigin origin;
    bool made;
  };
  const std::vector<Case> cases = {
      {"udp", ORIGIN_MESSAGE, false},        {"tcp", ORIGIN_OTHER_PORT, false},
      {"ssltcp", ORIGIN_THIS_PORT, false},   {"tcp", ORIGIN_MESSAGE, true},
      {"ssltcp", ORIGIN_MESSAGE, true},      {"tcp", ORIGIN_THIS_PORT, true},
  };
  for (const Case& c : cases) {
    remote.protocol = c.protocol;
    remote.address.SetPort(static_cast<uint16_t>(remote.address.port() + 1));
    EXPECT_EQ(open.CreateConnection(remote, c.origin) != nullptr, c.made)
        << c.protocol << " " << c.origin;
  }
}

TEST_F(TcpPortTest, UnclaimedStrangersAreCappedAndAgeOut) {
  TcpPort port(&queue_, nullptr, Network{"lo", 0x7F000001}, kLoopbackAny);
  port.PrepareAddress();
  std::vector<std::unique_ptr<EventSocket>> strangers;
  for (size_t i = 0; i < TcpPort::kMaxIncoming + 8; ++i) {
    strangers.emplace_back(queue_.hub()->CreateEventSocket(kStreamSocket));
    strangers.back()->Connect(port.local_address());
    queue_.RunDue();
  }
  queue_.RunDue();
  EXPECT_EQ(port.incoming_count(), TcpPort::kMaxIncoming);
  queue_.Advance(TcpPort::kIncomingLifetimeMs);
  strangers.emplace_back(queue_.hub()->CreateEventSocket(kStreamSocket));
  strangers.back()->Connect(port.local_address());
  queue_.RunDue();
  EXPECT_EQ(port.incoming_count(), 1u);
}

TEST_F(TcpPortTest, SendToAnUnknownDestinationFails) {
  TcpPort port(&queue_, nullptr, Network{"lo", 0x7F000001}, kLoopbackAny);
  LogCapture log(kInfo);
  EXPECT_EQ(port.SendTo("x", 1, SocketAddress(0x7F000001, 7), false), -1);
  EXPECT_TRUE(log.Contains("Unknown destination for SendTo: 127.0.0.1:7"));
}

}  // namespace
}  // namespace vexalo
