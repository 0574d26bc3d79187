#include "base/net/rulefilteringhub.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/net/socketerrors.h"
#include "support/sockettestutil.h"

namespace vexalo {
namespace {

// A filtering hub over the current thread's real hub (not owned).
class RuleFilteringTest : public ::testing::Test {
 protected:
  RuleFilteringManager manager_;
  RuleFilteringHub hub_{CurrentHub(), false, &manager_};
  const SocketAddress proxy_{0x7F000001u, 3128};
};

TEST_F(RuleFilteringTest, SimulationModesDecideAsConfigured) {
  const SocketAddress web{0x01020304u, 80}, tls{0x01020304u, 443}, other{0x01020304u, 5222};
  struct Case {
    int mode;
    FilterProtocol protocol;
    FilterDirection direction;
    SocketAddress address;
    bool allowed;
  } cases[] = {
      {0, FP_UDP, FD_OUT, other, true},  {1, FP_UDP, FD_OUT, other, false},
      {1, FP_UDP, FD_IN, other, false},  {1, FP_TCP, FD_IN, other, true},
      {2, FP_TCP, FD_OUT, other, true},  {2, FP_TCP, FD_IN, other, false},
      {3, FP_TCP, FD_OUT, web, true},    {3, FP_TCP, FD_OUT, tls, true},
      {3, FP_TCP, FD_OUT, other, false}, {3, FP_TCP, FD_IN, web, false},
      {4, FP_TCP, FD_OUT, proxy_, true}, {4, FP_TCP, FD_OUT, tls, false},
      {4, FP_UDP, FD_OUT, proxy_, false}, {5, FP_UDP, FD_OUT, other, true},
  };
  for (const Case& c : cases) {
    ApplySimulationMode(&manager_, c.mode, proxy_);
    EXPECT_EQ(hub_.Check(c.protocol, c.direction, c.address), c.allowed)
        << "mode " << c.mode << " proto " << c.protocol << " dir " << c.direction << " "
        << c.address.ToString();
  }
}

TEST_F(RuleFilteringTest, FirstMatchingRuleWins) {
  hub_.AddRule({true, FP_ANY, FD_ANY, SocketAddress(0x0A000001u, 0)});
  hub_.AddRule({false, FP_ANY, FD_ANY, SocketAddress()});
  EXPECT_TRUE(hub_.Check(FP_TCP, FD_OUT, SocketAddress(0x0A000001u, 9)));
  EXPECT_FALSE(hub_.Check(FP_TCP, FD_OUT, SocketAddress(0x0A000002u, 9)));
  manager_.ClearRules();
  EXPECT_TRUE(hub_.Check(FP_TCP, FD_OUT, SocketAddress(0x0A000002u, 9)));
}

TEST_F(RuleFilteringTest, DeniedTcpConnectFailsWithHostUnreachable) {
  ApplySimulationMode(&manager_, 3, proxy_);
  std::unique_ptr<EventSocket> socket(hub_.CreateEventSocket(kStreamSocket));
  EXPECT_EQ(socket->Connect(Loopback(5222)), -1);
  EXPECT_EQ(socket->GetError(), kSocketHostUnreachable);
}

TEST_F(RuleFilteringTest, DeniedDatagramsVanishBothWays) {
  std::unique_ptr<EventSocket> filtered(hub_.CreateEventSocket(kDatagramSocket));
  std::unique_ptr<EventSocket> open(CurrentHub()->CreateEventSocket(kDatagramSocket));
  ASSERT_EQ(filtered->Bind(Loopback()), 0);
  ASSERT_EQ(open->Bind(Loopback()), 0);
  SocketRecorder open_events(open.get());
  SocketRecorder filtered_events(filtered.get());
  int open_received = 0, filtered_received = 0;
  open_events.on_read = [&](EventSocket* s) {
    char buffer[64];
    if (s->RecvFrom(buffer, sizeof(buffer), nullptr) >= 0) ++open_received;
  };
  filtered_events.on_read = [&](EventSocket* s) {
    char buffer[64];
    if (s->RecvFrom(buffer, sizeof(buffer), nullptr) >= 0) ++filtered_received;
  };

  ApplySimulationMode(&manager_, 1, proxy_);
  // Sending "succeeds" with the full length, and nothing leaves.
  EXPECT_EQ(filtered->SendTo("lost", 4, open->GetLocalAddress()), 4);
  EXPECT_EQ(open->SendTo("dropped", 7, filtered->GetLocalAddress()), 7);
  for (int i = 0; i < 10; ++i) ThreadRegistry::Current()->RunFor(2);
  EXPECT_EQ(open_received, 0);
  EXPECT_EQ(filtered_received, 0);

  manager_.ClearRules();
  EXPECT_EQ(filtered->SendTo("kept", 4, open->GetLocalAddress()), 4);
  EXPECT_EQ(open->SendTo("let in", 6, filtered->GetLocalAddress()), 6);
  ASSERT_TRUE(RunUntil([&] { return open_received == 1 && filtered_received == 1; }));
}

TEST_F(RuleFilteringTest, DeniedInboundConnectionsAreClosedOnAccept) {
  std::unique_ptr<EventSocket> listener(hub_.CreateEventSocket(kStreamSocket));
  listener->Bind(Loopback());
  listener->Listen(5);
  SocketRecorder listener_events(listener.get());
  std::unique_ptr<EventSocket> client(CurrentHub()->CreateEventSocket(kStreamSocket));
  SocketRecorder client_events(client.get());
  client->Connect(listener->GetLocalAddress());
  ASSERT_TRUE(RunUntil([&] { return listener_events.reads > 0; }));

  ApplySimulationMode(&manager_, 2, proxy_);
  EXPECT_EQ(listener->Accept(nullptr), nullptr);  // refused, closed, and nothing else waits
  EXPECT_TRUE(IsBlockingError(listener->GetError()));
  ASSERT_TRUE(RunUntil([&] { return client_events.closes > 0; }));
}

}  // namespace
}  // namespace vexalo
