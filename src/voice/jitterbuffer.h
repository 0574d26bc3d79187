#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace vexalo {

// Received packets of one stream ordered by timestamp, with the interarrival jitter of
// RFC 3550 (section 6.4.1) and the playout delay it calls for. Bounded: a burst pushes out
// the oldest packets instead of growing the buffer.
class JitterBuffer {
 public:
  struct Packet {
    int64_t timestamp;  // unwrapped RTP timestamp
    uint8_t payload_type;
    std::vector<uint8_t> payload;
  };
  enum class InsertResult { kAccepted, kLate, kDuplicate, kOverflow };

  static constexpr size_t kCapacity = 50;  // one second of 20 ms frames
  static constexpr int kMinDelayMs = 20;
  static constexpr int kMaxDelayMs = 200;

  explicit JitterBuffer(int clock_rate) : clock_rate_(clock_rate) {}

  // `play_position` is the timestamp due next; packets before it come too late.
  InsertResult Insert(uint32_t rtp_timestamp, uint8_t payload_type,
                      std::span<const uint8_t> payload, int64_t arrival_ms,
                      std::optional<int64_t> play_position);
  std::optional<Packet> Take(int64_t timestamp);
  const Packet* Find(int64_t timestamp) const;
  std::optional<int64_t> Oldest() const;
  std::optional<int64_t> Newest() const;
  size_t size() const { return packets_.size(); }
  bool empty() const { return packets_.empty(); }
  void Clear() { packets_.clear(); }
  // Forgets the packets older than `timestamp`.
  void DropBefore(int64_t timestamp) { packets_.erase(packets_.begin(), packets_.lower_bound(timestamp)); }

  int clock_rate() const { return clock_rate_; }
  double jitter_ms() const { return jitter_ / clock_rate_ * 1000.0; }
  // Frame plus three times the jitter, kept within [kMinDelayMs, kMaxDelayMs].
  int TargetDelayMs(int frame_ms) const;
  int64_t MsToTicks(int64_t ms) const { return ms * clock_rate_ / 1000; }
  int64_t TicksToMs(int64_t ticks) const { return ticks * 1000 / clock_rate_; }

 private:
  int64_t Unwrap(uint32_t rtp_timestamp);

  int clock_rate_;
  std::map<int64_t, Packet> packets_;
  std::optional<int64_t> last_unwrapped_;
  std::optional<double> last_transit_;
  double jitter_ = 0;  // in timestamp ticks
};

}  // namespace vexalo
