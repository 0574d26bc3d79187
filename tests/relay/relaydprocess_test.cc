// The vexalo-relayd program itself: its command line, and a call's allocator getting a
// relay session and an allocation from it over loopback.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "p2p/base/port.h"
#include "p2p/client/httpportallocator.h"
#include "relay/relayfixture.h"
#include "support/peerprocess.h"

namespace vexalo {
namespace {

constexpr char kRelayd[] = VEXALO_RELAYD_PATH;
constexpr char kToken[] = "process-test-token";

TEST(RelaydProcessTest, CommandLineErrorsAreClearAndHelpExists) {
  EXPECT_EQ(RunCommand({kRelayd, "--help"}), 0);
  EXPECT_EQ(RunCommand({kRelayd, "--version"}), 0);
  EXPECT_EQ(RunCommand({kRelayd, "--udp-port", "70000"}), 2);
  EXPECT_EQ(RunCommand({kRelayd, "--no-such-option"}), 2);
  EXPECT_EQ(RunCommand({kRelayd, "--config", "/nonexistent/relayd.conf"}), 2);
  // The HTTP endpoint is on by default and refuses to run without a token.
  EXPECT_EQ(RunCommand({kRelayd, "--udp-port", "0"}), 2);
}

class RelaydProcessAllocationTest : public RelayFixture {};

TEST_F(RelaydProcessAllocationTest, AllocatorGetsARelayCandidateFromTheProgram) {
  TempDir dir;
  const uint16_t http_port = FreeLoopbackPort();
  { std::ofstream(dir.path() + "/token") << kToken << "\n"; }
  {
    std::ofstream config(dir.path() + "/relayd.conf");
    config << "# written by the test\nlisten = 127.0.0.1\nudp_port = 0\ntcp_port = 0\n"
           << "ssltcp_port = 0\nhttp_port = " << http_port << "\ntoken_file = " << dir.path()
           << "/token\nallow_loopback_peers = yes\n";
  }
  const std::string log_path = dir.path() + "/relayd.log";
  PeerProcess relayd;
  std::string error;
  ASSERT_TRUE(relayd.Start({kRelayd, "--config", dir.path() + "/relayd.conf"}, http_port,
                           log_path, &error))
      << error;

  HTTPPortAllocator allocator(&queue_, {SocketAddress()}, {"127.0.0.1"}, true);
  allocator.SetRelayToken(kToken);
  allocator.SetRelaySessionEndpoint(false, http_port);
  allocator.SetFlags(PortAllocator::kDisableUdp | PortAllocator::kDisableStun |
                     PortAllocator::kDisableTcp);
  auto session = allocator.CreateSession("audio", 0);
  Port* relay_port = nullptr;
  session->PortReady.Connect(this, [&](AllocatorSession*, Port* port) {
    if (port->network().ip == kLoopback) relay_port = port;
  });
  session->GetInitialPorts();
  session->StartGetAllPorts();
  ASSERT_TRUE(RunUntil([&] { return session->configured(); }));
  queue_.Advance(1000);
  ASSERT_TRUE(RunUntil([&] { return relay_port != nullptr; }));

  RawPeer peer(&queue_);
  ASSERT_EQ(relay_port->SendTo("through the program", 19, peer.address(), true), 19);
  ASSERT_TRUE(RunUntil([&] { return !peer.received.empty(); }));
  EXPECT_EQ(peer.received[0].bytes, "through the program");

  session.reset();
  relayd.Stop();
  std::stringstream log;
  log << std::ifstream(log_path).rdbuf();
  EXPECT_NE(log.str().find("Relay session created"), std::string::npos) << log.str();
  EXPECT_EQ(log.str().find(kToken), std::string::npos);
}

}  // namespace
}  // namespace vexalo
