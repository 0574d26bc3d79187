#include "voice/jitterbuffer.h"

#include <algorithm>
#include <cmath>

namespace vexalo {

int64_t JitterBuffer::Unwrap(uint32_t rtp_timestamp) {
  if (!last_unwrapped_) {
    last_unwrapped_ = rtp_timestamp;
    return *last_unwrapped_;
  }
  const auto delta = static_cast<int32_t>(rtp_timestamp - static_cast<uint32_t>(*last_unwrapped_));
  const int64_t unwrapped = *last_unwrapped_ + delta;
  if (delta > 0) last_unwrapped_ = unwrapped;
  return unwrapped;
}

JitterBuffer::InsertResult JitterBuffer::Insert(uint32_t rtp_timestamp, uint8_t payload_type,
                                                std::span<const uint8_t> payload,
                                                int64_t arrival_ms,
                                                std::optional<int64_t> play_position) {
  const int64_t timestamp = Unwrap(rtp_timestamp);
  const double transit = static_cast<double>(MsToTicks(arrival_ms)) - static_cast<double>(timestamp);
  if (last_transit_) jitter_ += (std::fabs(transit - *last_transit_) - jitter_) / 16.0;
  last_transit_ = transit;

  if (play_position && timestamp < *play_position) return InsertResult::kLate;
  if (packets_.count(timestamp)) return InsertResult::kDuplicate;
  InsertResult result = InsertResult::kAccepted;
  if (packets_.size() >= kCapacity) {
    // A newer packet is worth more than the oldest: playout skips ahead rather than lag.
    if (timestamp < packets_.begin()->first) return InsertResult::kOverflow;
    packets_.erase(packets_.begin());
    result = InsertResult::kOverflow;
  }
  packets_.emplace(timestamp,
                   Packet{timestamp, payload_type, std::vector<uint8_t>(payload.begin(), payload.end())});
  return result;
}

std::optional<JitterBuffer::Packet> JitterBuffer::Take(int64_t timestamp) {
  auto it = packets_.find(timestamp);
  if (it == packets_.end()) return std::nullopt;
  Packet packet = std::move(it->second);
  packets_.erase(it);
  return packet;
}

const JitterBuffer::Packet* JitterBuffer::Find(int64_t timestamp) const {
  auto it = packets_.find(timestamp);
  return it == packets_.end() ? nullptr : &it->second;
}

std::optional<int64_t> JitterBuffer::Oldest() const {
  if (packets_.empty()) return std::nullopt;
  return packets_.begin()->first;
}

std::optional<int64_t> JitterBuffer::Newest() const {
  if (packets_.empty()) return std::nullopt;
  return packets_.rbegin()->first;
}

int JitterBuffer::TargetDelayMs(int frame_ms) const {
  const int wanted = frame_ms + static_cast<int>(std::lround(3.0 * jitter_ms()));
  return std::clamp(wanted, kMinDelayMs, kMaxDelayMs);
}

}  // namespace vexalo
