#include "voice/rtppacket.h"

#include <gtest/gtest.h>

#include <vector>

#include "voice/rtpsender.h"

namespace vexalo {
namespace {

std::vector<uint8_t> Header(uint8_t first, uint8_t second) {
  return {first, second, 0x12, 0x34, 0, 0, 0x03, 0x20, 0xDE, 0xAD, 0xBE, 0xEF};
}

TEST(RtpPacket, ParsesFixedHeaderAndPayload) {
  auto bytes = Header(0x80, 0x80 | 111);
  bytes.insert(bytes.end(), {1, 2, 3});
  auto packet = RtpPacket::Parse(bytes);
  ASSERT_TRUE(packet);
  EXPECT_TRUE(packet->marker);
  EXPECT_EQ(packet->payload_type, 111);
  EXPECT_EQ(packet->sequence, 0x1234);
  EXPECT_EQ(packet->timestamp, 800u);
  EXPECT_EQ(packet->ssrc, 0xDEADBEEFu);
  EXPECT_EQ(std::vector<uint8_t>(packet->payload.begin(), packet->payload.end()),
            (std::vector<uint8_t>{1, 2, 3}));
}

TEST(RtpPacket, StepsOverCsrcsExtensionAndPadding) {
  // Two CSRCs, an extension of one word, two bytes of payload, three of padding.
  auto bytes = Header(0x80 | 0x20 | 0x10 | 2, 0);
  bytes.insert(bytes.end(), {0, 0, 0, 1, 0, 0, 0, 2});
  bytes.insert(bytes.end(), {0xBE, 0xDE, 0, 1, 9, 9, 9, 9});
  bytes.insert(bytes.end(), {7, 8, 0, 0, 3});
  auto packet = RtpPacket::Parse(bytes);
  ASSERT_TRUE(packet);
  EXPECT_EQ(std::vector<uint8_t>(packet->payload.begin(), packet->payload.end()),
            (std::vector<uint8_t>{7, 8}));
}

TEST(RtpPacket, RefusesMalformedPackets) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  auto with = [](std::vector<uint8_t> bytes, std::vector<uint8_t> more) {
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
  };
  const Case cases[] = {
      {"empty", {}},
      {"shorter than the header", {0x80, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
      {"version 1", with(Header(0x40, 0), {1})},
      {"version 0 (STUN)", with(Header(0x00, 1), {1})},
      {"CSRCs beyond the end", with(Header(0x8F, 0), {1, 2, 3, 4})},
      {"extension header cut", with(Header(0x90, 0), {0xBE, 0xDE})},
      {"extension longer than the packet", with(Header(0x90, 0), {0xBE, 0xDE, 0, 9, 1, 2, 3, 4})},
      {"padding count zero", with(Header(0xA0, 0), {1, 0})},
      {"padding longer than the payload", with(Header(0xA0, 0), {1, 2, 9})},
      {"RTCP sender report", with(Header(0x80, 200), {1})},
      {"larger than any voice packet", with(Header(0x80, 0), std::vector<uint8_t>(1500, 0))},
  };
  for (const Case& c : cases) EXPECT_FALSE(RtpPacket::Parse(c.bytes)) << c.what;
}

TEST(RtpSender, NumbersPacketsAndStartsRandomly) {
  RtpSender first, second;
  // Two streams of one process share neither SSRC nor starting point (2^-32 chance of a clash).
  EXPECT_NE(first.ssrc(), second.ssrc());
  const uint16_t sequence = first.next_sequence();
  const uint32_t timestamp = first.next_timestamp();
  const uint8_t payload[] = {5, 6};
  auto one = first.Packetize(0, payload, 160, true);
  first.Skip(160);
  auto two = first.Packetize(0, payload, 160, false);
  auto a = RtpPacket::Parse(one);
  auto b = RtpPacket::Parse(two);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->sequence, sequence);
  EXPECT_EQ(b->sequence, static_cast<uint16_t>(sequence + 1));
  EXPECT_EQ(a->timestamp, timestamp);
  EXPECT_EQ(b->timestamp, timestamp + 320);  // the skipped frame still took its time
  EXPECT_TRUE(a->marker);
  EXPECT_FALSE(b->marker);
  EXPECT_EQ(a->ssrc, first.ssrc());
}

}  // namespace
}  // namespace vexalo
