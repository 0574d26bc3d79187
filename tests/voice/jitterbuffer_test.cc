#include "voice/jitterbuffer.h"

#include <gtest/gtest.h>

namespace vexalo {
namespace {

const uint8_t kPayload[] = {1};

TEST(JitterBuffer, OrdersByTimestampAcrossWrap) {
  JitterBuffer buffer(8000);
  const uint32_t base = 0xFFFFFF00u;
  EXPECT_EQ(buffer.Insert(base, 0, kPayload, 0, std::nullopt), JitterBuffer::InsertResult::kAccepted);
  EXPECT_EQ(buffer.Insert(base + 320, 0, kPayload, 40, std::nullopt), JitterBuffer::InsertResult::kAccepted);
  EXPECT_EQ(buffer.Insert(base + 160, 0, kPayload, 41, std::nullopt), JitterBuffer::InsertResult::kAccepted);
  EXPECT_EQ(buffer.Insert(base + 160, 0, kPayload, 42, std::nullopt), JitterBuffer::InsertResult::kDuplicate);
  EXPECT_EQ(*buffer.Oldest(), int64_t{base});
  EXPECT_EQ(*buffer.Newest(), int64_t{base} + 320);  // past 2^32, still in order
  EXPECT_TRUE(buffer.Take(int64_t{base} + 160));
  EXPECT_EQ(buffer.size(), 2u);
}

TEST(JitterBuffer, RefusesLatePacketsAndBoundsBursts) {
  JitterBuffer buffer(8000);
  EXPECT_EQ(buffer.Insert(1000, 0, kPayload, 0, int64_t{1160}), JitterBuffer::InsertResult::kLate);
  for (uint32_t i = 0; i < 3 * JitterBuffer::kCapacity; ++i) {
    buffer.Insert(2000 + 160 * i, 0, kPayload, 0, std::nullopt);
  }
  EXPECT_EQ(buffer.size(), JitterBuffer::kCapacity);
  // The newest are kept: playout skips ahead rather than falling further behind.
  EXPECT_EQ(*buffer.Newest(), 2000 + 160 * (3 * int64_t{JitterBuffer::kCapacity} - 1));
}

TEST(JitterBuffer, TargetDelayFollowsJitterWithinBounds) {
  struct Case {
    int spread_ms;  // arrival alternates early and late by this much
    int min_target, max_target;
  } cases[] = {{0, 20, 20}, {10, 40, 60}, {200, 200, 200}};
  for (const Case& c : cases) {
    JitterBuffer buffer(8000);
    for (int i = 0; i < 200; ++i) {
      const int64_t arrival = i * 20 + (i % 2 ? c.spread_ms : 0);
      buffer.Insert(static_cast<uint32_t>(i * 160), 0, kPayload, arrival, std::nullopt);
      buffer.Take(*buffer.Oldest());
    }
    EXPECT_GE(buffer.TargetDelayMs(20), c.min_target) << c.spread_ms;
    EXPECT_LE(buffer.TargetDelayMs(20), c.max_target) << c.spread_ms;
  }
}

}  // namespace
}  // namespace vexalo
