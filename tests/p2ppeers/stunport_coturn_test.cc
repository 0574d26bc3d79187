// The STUN port against a real STUN server (coturn) on 127.0.0.1.
#include <gtest/gtest.h>

#include <memory>

#include "p2p/base/stunport.h"
#include "p2ppeers/coturnpeer.h"
#include "p2ppeers/runloop.h"
#include "support/logcapture.h"

namespace vexalo {
namespace {

const Network kLoopbackNetwork{"lo", 0x7F000001};

class StunPortCoturnTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    if (!coturn_.started()) GTEST_SKIP() << "coturn did not start: " << coturn_.error();
    port_ = std::make_unique<StunPort>(&queue_, nullptr, kLoopbackNetwork,
                                       SocketAddress(0x7F000001, 0), coturn_.address());
    port_->AddressReady.Connect(this, [this](Port*) { ++ready_; });
  }

  EventQueue queue_;
  CoturnPeer coturn_;
  std::unique_ptr<StunPort> port_;
  int ready_ = 0;
};

TEST_F(StunPortCoturnTest, ServerReflexiveCandidateAppears) {
  port_->PrepareAddress();
  ASSERT_TRUE(RunUntil(&queue_, [&] { return ready_ == 1; }));
  ASSERT_EQ(port_->candidates().size(), 1u);
  const Candidate& c = port_->candidates()[0];
  EXPECT_EQ(c.type, "stun");
  EXPECT_EQ(c.protocol, "udp");
  // No NAT on loopback: the server sees the socket's own address.
  EXPECT_EQ(c.address, port_->local_address());
  EXPECT_EQ(port_->foreign_responses(), 0u);
}

TEST_F(StunPortCoturnTest, ServerStoppedMidwayGivesTheTimeOutAfterTheSchedule) {
  port_->PrepareAddress();
  ASSERT_TRUE(RunUntil(&queue_, [&] { return ready_ == 1; }));
  coturn_.Stop();
  LogCapture log(kError);
  // The keep-alive request goes out 10 s after the answer, then runs its 9.5 s course.
  const Tick stopped = TickNow();
  ASSERT_TRUE(RunUntil(&queue_, [&] { return log.Contains("Binding request timed out"); },
                       25000));
  const int64_t waited = TickDiff(TickNow(), stopped);
  EXPECT_GE(waited, 9500);
  EXPECT_LE(waited, 10000 + 9500 + 500);
  EXPECT_EQ(port_->candidates().size(), 1u);
}

}  // namespace
}  // namespace vexalo
