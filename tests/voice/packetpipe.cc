#include "voice/packetpipe.h"

#include <algorithm>

namespace vexalo::testing {

int PacketPipe::SendPacket(int, const void* data, size_t size) {
  ++sent;
  if (std::uniform_real_distribution<>(0, 1)(random_) < loss_) return static_cast<int>(size);
  const int delay = jitter_ms_ ? std::uniform_int_distribution<>(0, jitter_ms_)(random_) : 0;
  const auto* bytes = static_cast<const uint8_t*>(data);
  in_flight_.push_back({now_ms + delay, std::vector<uint8_t>(bytes, bytes + size)});
  return static_cast<int>(size);
}

void PacketPipe::Deliver(int64_t now) {
  now_ms = now;
  std::stable_sort(in_flight_.begin(), in_flight_.end(),
                   [](const InFlight& a, const InFlight& b) { return a.due_ms < b.due_ms; });
  while (!in_flight_.empty() && in_flight_.front().due_ms <= now) {
    auto& packet = in_flight_.front().bytes;
    to_->VE_ReceivedRTPPacket(channel_, packet.data(), static_cast<int>(packet.size()));
    in_flight_.pop_front();
  }
}

}  // namespace vexalo::testing
