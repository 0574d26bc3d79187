#include "p2p/base/pseudotcp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "base/net/socketerrors.h"
#include "support/bytepattern.h"
#include "p2p/pseudotcplink.h"

namespace vexalo {
namespace {

std::string Pattern(size_t size) { return BytePattern(size); }

bool Established(PseudoTcpLink& link) {
  return link.a().tcp.state() == PseudoTcp::TCP_ESTABLISHED && link.b().tcp.state() == PseudoTcp::TCP_ESTABLISHED;
}

void Connect(PseudoTcpLink& link) {
  ASSERT_EQ(link.a().tcp.Connect(), 0);
  ASSERT_TRUE(link.RunUntil([&] { return Established(link); }, 10000));
}

std::string Segment(uint32_t seq, uint32_t ack, uint8_t flags, uint16_t window, const std::string& payload,
                    uint32_t conversation = 0) {
  std::string s(PseudoTcp::kHeaderSize, '\0');
  auto put32 = [&s](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (24 - 8 * i));
  };
  put32(0, conversation);
  put32(4, seq);
  put32(8, ack);
  s[13] = static_cast<char>(flags);
  s[14] = static_cast<char>(window >> 8);
  s[15] = static_cast<char>(window);
  return s + payload;
}

TEST(PseudoTcp, HandshakeOpensBothSidesWithOneControlByteEach) {
  PseudoTcpLink link;
  Connect(link);
  EXPECT_TRUE(link.a().opened);
  EXPECT_TRUE(link.b().opened);
  ASSERT_FALSE(link.a().sent.empty());
  EXPECT_EQ(link.a().sent[0].flags, PseudoTcp::kFlagControl);
  EXPECT_EQ(link.a().sent[0].payload, 1u);
  EXPECT_EQ(link.b().sent[0].flags, PseudoTcp::kFlagControl);
  EXPECT_EQ(link.b().sent[0].ack, 1u);
  // Without an MTU hint the segment size follows the largest plateau.
  EXPECT_EQ(link.a().tcp.mss(), 65535u - 52u);
  EXPECT_EQ(link.a().tcp.Connect(), -1);
  EXPECT_EQ(link.a().tcp.GetError(), PseudoTcp::kErrorInvalidState);
}

TEST(PseudoTcp, SimultaneousConnectNeedsNoFurtherControlSegment) {
  PseudoTcpLink link;
  ASSERT_EQ(link.a().tcp.Connect(), 0);
  ASSERT_EQ(link.b().tcp.Connect(), 0);
  ASSERT_TRUE(link.RunUntil([&] { return Established(link); }, 10000));
  link.Run(5000);
  for (PseudoTcpLink::End* end : {&link.a(), &link.b()}) {
    int controls = 0;
    for (const auto& p : end->sent) controls += (p.flags & PseudoTcp::kFlagControl) ? 1 : 0;
    EXPECT_EQ(controls, 1);
  }
}

TEST(PseudoTcp, ShortOrForeignSegmentsChangeNothing) {
  PseudoTcpLink link;
  Connect(link);
  PseudoTcp& tcp = link.b().tcp;
  const uint32_t window = tcp.send_window();
  std::string short_segment = Segment(1, 1, 0, 0, "").substr(0, 20);
  EXPECT_FALSE(tcp.NotifyPacket(short_segment.data(), short_segment.size()));
  std::string foreign = Segment(1, 1, 0, 0, "x", 7);
  EXPECT_FALSE(tcp.NotifyPacket(foreign.data(), foreign.size()));
  std::string unknown_control = Segment(1, 1, PseudoTcp::kFlagControl, 0, "\x05");
  EXPECT_FALSE(tcp.NotifyPacket(unknown_control.data(), unknown_control.size()));
  std::string empty_control = Segment(1, 1, PseudoTcp::kFlagControl, 0, "");
  EXPECT_FALSE(tcp.NotifyPacket(empty_control.data(), empty_control.size()));
  std::string huge(70000, '\0');
  EXPECT_FALSE(tcp.NotifyPacket(huge.data(), huge.size()));
  EXPECT_EQ(tcp.state(), PseudoTcp::TCP_ESTABLISHED);
  EXPECT_EQ(tcp.send_window(), window);
  EXPECT_EQ(tcp.buffered_receive(), 0u);
}

TEST(PseudoTcp, ResetClosesWithConnectionReset) {
  PseudoTcpLink link;
  Connect(link);
  std::string reset = Segment(1, 1, PseudoTcp::kFlagReset, 0, "");
  EXPECT_FALSE(link.b().tcp.NotifyPacket(reset.data(), reset.size()));
  EXPECT_TRUE(link.b().closed);
  EXPECT_EQ(link.b().close_error, kSocketConnectionReset);
  EXPECT_EQ(link.b().tcp.state(), PseudoTcp::TCP_CLOSED);
}

TEST(PseudoTcp, RecvOnEmptyBufferWouldBlockAndTheNextDataIsAnnounced) {
  PseudoTcpLink link;
  Connect(link);
  link.b().auto_read = false;
  char buffer[16];
  EXPECT_EQ(link.b().tcp.Recv(buffer, sizeof buffer), -1);
  EXPECT_EQ(link.b().tcp.GetError(), kSocketWouldBlock);
  const int before = link.b().readable_events;
  link.a().Write("hello");
  ASSERT_TRUE(link.RunUntil([&] { return link.b().readable_events > before; }, 1000));
  EXPECT_EQ(link.b().readable_events, before + 1);
  ASSERT_EQ(link.b().tcp.Recv(buffer, sizeof buffer), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
}

TEST(PseudoTcp, NotConnectedRefusesSendAndRecv) {
  PseudoTcpLink link;
  char buffer[4] = {};
  EXPECT_EQ(link.a().tcp.Send(buffer, sizeof buffer), -1);
  EXPECT_EQ(link.a().tcp.GetError(), kSocketNotConnected);
  EXPECT_EQ(link.a().tcp.Recv(buffer, sizeof buffer), -1);
  EXPECT_EQ(link.a().tcp.GetError(), kSocketNotConnected);
}

TEST(PseudoTcp, LoneSegmentIsAcknowledgedAfterTheDelayedAckTime) {
  // 200 ms each way keeps the retransmission timer above the ACK delay.
  PseudoTcpLink link({0, 0, 0, 200, 0}, 1);
  Connect(link);
  link.Run(5000);
  link.a().Write("x");
  const Tick sent_at = link.now;
  const size_t acks_before = link.b().sent.size();
  ASSERT_TRUE(link.RunUntil([&] { return link.b().sent.size() > acks_before; }, 2000));
  EXPECT_EQ(link.b().sent.back().time - sent_at, 200 + PseudoTcp::kDelayedAckMs);
  EXPECT_EQ(link.b().sent.back().ack, link.a().sent.back().seq + 1);
  EXPECT_EQ(link.b().sent.back().payload, 0u);
}

std::vector<PseudoTcpLink::SentPacket> DataPackets(const PseudoTcpLink::End& end) {
  std::vector<PseudoTcpLink::SentPacket> data;
  for (const auto& p : end.sent) {
    if (p.payload > 0 && !(p.flags & PseudoTcp::kFlagControl)) data.push_back(p);
  }
  return data;
}

TEST(PseudoTcp, ThreeDuplicateAcksTriggerOneFastRetransmission) {
  PseudoTcpLink link;
  link.a().tcp.NotifyMTU(1500);
  Connect(link);
  // Hold everything the sender emits and answer with scripted ACKs.
  link.filter = [](int from, const PseudoTcpLink::SentPacket&) { return from != 0; };
  PseudoTcp& tcp = link.a().tcp;
  const uint32_t mss = tcp.mss();
  ASSERT_EQ(mss, 1448u);
  link.a().Write(Pattern(60 * mss));
  // A few rounds of full ACKs open the congestion window (slow start: by the bytes acknowledged,
  // at most two segments per ACK; each ACK here covers a flight of several).
  uint32_t snd_nxt = 0;
  for (int round = 0; round < 3; ++round) {
    auto data = DataPackets(link.a());
    ASSERT_FALSE(data.empty());
    snd_nxt = data.back().seq + static_cast<uint32_t>(data.back().payload);
    const uint32_t cwnd = tcp.cwnd();
    std::string ack = Segment(1, snd_nxt, 0, 61440, "");
    ASSERT_TRUE(tcp.NotifyPacket(ack.data(), ack.size()));
    EXPECT_EQ(tcp.cwnd(), cwnd + 2 * mss) << "round " << round;
  }
  auto data = DataPackets(link.a());
  const uint32_t snd_una = snd_nxt;
  snd_nxt = data.back().seq + static_cast<uint32_t>(data.back().payload);
  ASSERT_GE((snd_nxt - snd_una) / mss, 4u);
  // The first segment of the flight arrives, the second is lost: every later one repeats the ACK.
  std::string ack = Segment(1, snd_una + mss, 0, 61440, "");
  ASSERT_TRUE(tcp.NotifyPacket(ack.data(), ack.size()));
  // The first two duplicates each let one more new segment out (limited transmit).
  for (int i = 0; i < 2; ++i) {
    const size_t before = link.a().sent.size();
    ASSERT_TRUE(tcp.NotifyPacket(ack.data(), ack.size()));
    for (size_t j = before; j < link.a().sent.size(); ++j) EXPECT_FALSE(link.a().sent[j].retransmission);
  }
  snd_nxt = DataPackets(link.a()).back().seq + static_cast<uint32_t>(DataPackets(link.a()).back().payload);
  const size_t sent_before = link.a().sent.size();
  ASSERT_TRUE(tcp.NotifyPacket(ack.data(), ack.size()));
  ASSERT_GT(link.a().sent.size(), sent_before);
  EXPECT_EQ(link.a().sent[sent_before].seq, snd_una + mss);
  EXPECT_TRUE(link.a().sent[sent_before].retransmission);
  const uint32_t ssthresh = std::max((snd_nxt - (snd_una + mss)) / 2, 2 * mss);
  EXPECT_EQ(tcp.ssthresh(), ssthresh);
  EXPECT_EQ(tcp.cwnd(), ssthresh + 3 * mss);
  // A fourth duplicate inflates the window by one segment and retransmits nothing.
  ASSERT_TRUE(tcp.NotifyPacket(ack.data(), ack.size()));
  EXPECT_EQ(tcp.cwnd(), ssthresh + 4 * mss);
  int retransmissions = 0;
  for (const auto& p : link.a().sent) retransmissions += p.retransmission ? 1 : 0;
  EXPECT_EQ(retransmissions, 1);
  // A partial ACK retransmits the next hole; the ACK of everything ends recovery deflated.
  std::string partial = Segment(1, snd_una + 2 * mss, 0, 61440, "");
  const size_t before_partial = link.a().sent.size();
  ASSERT_TRUE(tcp.NotifyPacket(partial.data(), partial.size()));
  ASSERT_GT(link.a().sent.size(), before_partial);
  EXPECT_EQ(link.a().sent[before_partial].seq, snd_una + 2 * mss);
  snd_nxt = DataPackets(link.a()).back().seq + static_cast<uint32_t>(DataPackets(link.a()).back().payload);
  uint32_t highest = 0;
  for (const auto& p : DataPackets(link.a())) highest = std::max(highest, p.seq + static_cast<uint32_t>(p.payload));
  std::string full = Segment(1, highest, 0, 61440, "");
  ASSERT_TRUE(tcp.NotifyPacket(full.data(), full.size()));
  EXPECT_EQ(tcp.duplicate_acks(), 0u);
  EXPECT_LE(tcp.cwnd(), ssthresh + mss);
}

TEST(PseudoTcp, OversizedDatagramsStepTheMssDownThePlateaus) {
  PseudoTcpLink link;
  Connect(link);
  link.a().write_result = [](size_t length) {
    return length > 1400 ? PseudoTcpOwner::WR_TOO_LARGE : PseudoTcpOwner::WR_SUCCESS;
  };
  const std::string data = Pattern(20000);
  link.a().Write(data);
  ASSERT_TRUE(link.RunUntil([&] { return link.b().received.size() == data.size(); }, 30000));
  EXPECT_EQ(link.b().received, data);
  EXPECT_EQ(link.a().tcp.mss(), 1006u - 52u);
  for (const auto& p : link.a().sent) {
    if (p.payload > 0 && !(p.flags & PseudoTcp::kFlagControl)) {
      EXPECT_LE(p.payload, 954u);
    }
  }
}

TEST(PseudoTcp, SilentPeerDoublesTheDelayToOneMinuteThenCloses) {
  PseudoTcpLink link;
  Connect(link);
  link.Run(1000);
  link.filter = [](int from, const PseudoTcpLink::SentPacket&) { return from != 0; };
  link.a().Write("lost");
  ASSERT_TRUE(link.RunUntil([&] { return link.a().closed; }, 3600 * 1000));
  EXPECT_EQ(link.a().close_error, kSocketConnectionAborted);
  std::vector<Tick> times;
  for (const auto& p : link.a().sent) {
    if (p.payload > 0 && !(p.flags & PseudoTcp::kFlagControl)) times.push_back(p.time);
  }
  ASSERT_EQ(times.size(), 15u);
  int64_t previous = 0;
  for (size_t i = 1; i < times.size(); ++i) {
    int64_t gap = times[i] - times[i - 1];
    EXPECT_GE(gap, previous) << "gap " << i;
    EXPECT_LE(gap, 60000) << "gap " << i;
    previous = gap;
  }
  EXPECT_EQ(times.back() - times[times.size() - 2], 60000);
}

TEST(PseudoTcp, ZeroWindowIsProbedAndReopensWhenTheReaderCatchesUp) {
  PseudoTcpLink link;
  Connect(link);
  link.b().auto_read = false;
  const std::string data = Pattern(200000);
  link.a().Write(data);
  ASSERT_TRUE(link.RunUntil([&] { return link.a().tcp.send_window() == 0; }, 20000));
  EXPECT_EQ(link.b().tcp.buffered_receive(), PseudoTcp::kBufferSize);
  const size_t before = link.a().sent.size();
  link.Run(10000);
  int probes = 0;
  for (size_t i = before; i < link.a().sent.size(); ++i) probes += link.a().sent[i].payload == 0 ? 1 : 0;
  EXPECT_GE(probes, 1);
  EXPECT_FALSE(link.a().closed);
  link.b().auto_read = true;
  link.b().Drain();
  ASSERT_TRUE(link.RunUntil([&] { return link.b().received.size() == data.size(); }, 60000));
  EXPECT_EQ(link.b().received, data);
}

TEST(PseudoTcp, ZeroWindowPeerThatFallsSilentIsGivenUp) {
  PseudoTcpLink link;
  Connect(link);
  link.b().auto_read = false;
  link.a().Write(Pattern(100000));
  ASSERT_TRUE(link.RunUntil([&] { return link.a().tcp.send_window() == 0; }, 20000));
  link.filter = [](int from, const PseudoTcpLink::SentPacket&) { return from != 1; };
  const Tick silent_from = link.now;
  ASSERT_TRUE(link.RunUntil([&] { return link.a().closed; }, 600000));
  EXPECT_EQ(link.a().close_error, kSocketConnectionAborted);
  EXPECT_GE(link.now - silent_from, PseudoTcp::kProbeGiveUpMs);
}

TEST(PseudoTcp, ClosedSenderDrainsItsQueueThenNeedsNoClock) {
  PseudoTcpLink link;
  Connect(link);
  const std::string data = Pattern(100000);
  link.a().Write(data);
  link.a().tcp.Close();
  int64_t timeout = 0;
  EXPECT_TRUE(link.a().tcp.GetNextClock(link.now, &timeout));
  ASSERT_TRUE(link.RunUntil([&] { return link.b().received.size() == data.size(); }, 60000));
  EXPECT_EQ(link.b().received, data);
  ASSERT_TRUE(link.RunUntil([&] { return !link.a().tcp.GetNextClock(link.now, &timeout); }, 10000));
}

TEST(PseudoTcp, WouldBlockShortensTheTimerAndRetries) {
  PseudoTcpLink link;
  Connect(link);
  link.Run(1000);
  int refusals = 3;
  link.a().write_result = [&refusals](size_t) {
    return refusals-- > 0 ? PseudoTcpOwner::WR_WOULD_BLOCK : PseudoTcpOwner::WR_SUCCESS;
  };
  link.a().Write("abc");
  EXPECT_EQ(link.a().tcp.rto(), PseudoTcp::kMinRto);
  ASSERT_TRUE(link.RunUntil([&] { return link.b().received == "abc"; }, 10000));
}

TEST(PseudoTcp, DelayedAckThatCannotBeSentDoesNotSpinTheClock) {
  PseudoTcpLink link;
  Connect(link);
  link.Run(1000);
  link.b().write_result = [](size_t) { return PseudoTcpOwner::WR_FAILED; };
  link.a().Write("x");
  link.Run(PseudoTcp::kDelayedAckMs + 10);
  int64_t timeout = 0;
  ASSERT_TRUE(link.b().tcp.GetNextClock(link.now, &timeout));
  EXPECT_GT(timeout, 0);
}

// The stream arrives whole and in order across impaired links; retransmissions appear only
// where data was lost and the link stays busy.
struct LinkScenario {
  const char* name;
  PseudoTcpLink::Impairment impairment;
  size_t bytes;
  int64_t limit_ms;
};

class PseudoTcpImpairedLink : public ::testing::TestWithParam<LinkScenario> {};

TEST_P(PseudoTcpImpairedLink, StreamArrivesWholeAndInOrder) {
  const LinkScenario& scenario = GetParam();
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    PseudoTcpLink link(scenario.impairment, seed);
    link.a().tcp.NotifyMTU(1500);
    link.b().tcp.NotifyMTU(1500);
    Connect(link);
    const std::string data = Pattern(scenario.bytes);
    const std::string back = Pattern(scenario.bytes / 4);
    link.a().Write(data);
    link.b().Write(back);
    ASSERT_TRUE(link.RunUntil([&] { return link.b().received.size() == data.size() && link.a().received.size() == back.size(); },
                              scenario.limit_ms))
        << scenario.name << " seed " << seed << ": " << link.b().received.size() << " of " << data.size();
    EXPECT_TRUE(link.b().received == data) << scenario.name;
    EXPECT_TRUE(link.a().received == back) << scenario.name;
    int retransmissions = 0;
    for (const auto& p : link.a().sent) retransmissions += p.retransmission ? 1 : 0;
    for (const auto& p : link.b().sent) retransmissions += p.retransmission ? 1 : 0;
    const auto& impairment = scenario.impairment;
    if (impairment.loss == 0 && impairment.reorder == 0 && impairment.duplicate == 0) {
      // A lossless link resends nothing: not even a lone segment whose ACK the peer holds
      // back for the delayed-ACK time.
      EXPECT_EQ(retransmissions, 0) << scenario.name;
    }
    // Every lost data packet is sent again; segments never merge once sent.
    EXPECT_GE(retransmissions, link.dropped_data) << scenario.name;
    if (impairment.loss > 0) {
      EXPECT_GE(link.dropped_data, 1) << scenario.name;
    }
    EXPECT_FALSE(link.a().closed);
    EXPECT_FALSE(link.b().closed);
  }
}

// A bulk transfer over a clean 50 ms round trip keeps a full receive window in flight: the
// owner refills only on OnTcpWriteable, the window opens two segments per ACK from a start of
// three, and no lone segment waits out the peer's delayed ACK.
TEST(PseudoTcp, BulkTransferOnACleanLinkFillsTheReceiveWindow) {
  PseudoTcpLink link({0, 0, 0, 25, 30}, 1);
  link.a().tcp.NotifyMTU(1500);
  link.b().tcp.NotifyMTU(1500);
  Connect(link);
  PseudoTcp& tcp = link.a().tcp;
  const uint32_t mss = tcp.mss();
  const std::string data = Pattern(1 << 20);
  link.a().Write(data);
  const Tick start = link.now;
  uint32_t most_in_flight = 0;
  Tick full_window_at = 0;
  ASSERT_TRUE(link.RunUntil(
      [&] {
        most_in_flight = std::max(most_in_flight, tcp.in_flight());
        if (full_window_at == 0 && tcp.in_flight() + mss > tcp.send_window()) full_window_at = link.now;
        return link.b().received.size() == data.size();
      },
      60000));
  EXPECT_TRUE(link.b().received == data);
  // The reader drains at once, so the peer's window is the buffer less the segment just taken in.
  EXPECT_GE(most_in_flight, PseudoTcp::kBufferSize - 2 * mss);
  // Slow start from three segments, two more per ACK, reaches the window within eight round trips.
  ASSERT_NE(full_window_at, 0);
  EXPECT_LE(full_window_at - start, 8 * 50);
  // The first segments go out together, the last short one does not wait behind a full one.
  const auto& sent = link.a().sent;
  auto is_data = [&](const PseudoTcpLink::SentPacket& p) {
    return p.payload > 0 && !(p.flags & PseudoTcp::kFlagControl) && p.time >= start;
  };
  auto first_data = std::find_if(sent.begin(), sent.end(), is_data);
  ASSERT_NE(first_data, sent.end());
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [&](const auto& p) { return is_data(p) && p.time == first_data->time; }),
            PseudoTcp::kInitialSegments);
  Tick last_data = 0;
  for (const auto& p : sent) {
    EXPECT_FALSE(p.retransmission);
    if (p.payload > 0) last_data = p.time;
  }
  EXPECT_LT(link.now - last_data, PseudoTcp::kDelayedAckMs);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, PseudoTcpImpairedLink,
    ::testing::Values(LinkScenario{"clean", {}, 1000000, 60000},
                      LinkScenario{"delay50", {0, 0, 0, 50, 30}, 1000000, 120000},
                      LinkScenario{"loss1", {0.01, 0, 0, 25, 30}, 1000000, 600000},
                      LinkScenario{"loss5", {0.05, 0, 0, 25, 30}, 500000, 900000},
                      LinkScenario{"loss20", {0.20, 0, 0, 5, 30}, 100000, 1800000},
                      LinkScenario{"duplicate10", {0, 0.10, 0, 10, 30}, 1000000, 120000},
                      LinkScenario{"reorder10", {0, 0, 0.10, 10, 15}, 1000000, 300000},
                      LinkScenario{"everything", {0.03, 0.05, 0.05, 20, 15}, 500000, 900000}),
    [](const ::testing::TestParamInfo<LinkScenario>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace vexalo
