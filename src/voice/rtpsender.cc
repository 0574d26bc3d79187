#include "voice/rtpsender.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

#include "base/runtime/logging.h"
#include "voice/rtppacket.h"

namespace vexalo {
namespace {

uint32_t KernelRandom32() {
  uint32_t value = 0;
  while (getrandom(&value, sizeof value, 0) != sizeof value) {
    if (errno != EINTR) {
      LOG_ERRNO(kError) << "getrandom failed";
      std::abort();
    }
  }
  return value;
}

}  // namespace

RtpSender::RtpSender()
    : ssrc_(KernelRandom32()),
      sequence_(static_cast<uint16_t>(KernelRandom32())),
      timestamp_(KernelRandom32()) {}

std::vector<uint8_t> RtpSender::Packetize(uint8_t payload_type, std::span<const uint8_t> payload,
                                          uint32_t samples, bool marker) {
  std::vector<uint8_t> packet(RtpPacket::kHeaderSize + payload.size());
  RtpPacket::WriteHeader(packet.data(), marker, payload_type, sequence_, timestamp_, ssrc_);
  std::copy(payload.begin(), payload.end(), packet.begin() + RtpPacket::kHeaderSize);
  ++sequence_;
  timestamp_ += samples;
  return packet;
}

}  // namespace vexalo
