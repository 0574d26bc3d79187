#include "voice/rtppacket.h"

namespace vexalo {
namespace {

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace

std::optional<RtpPacket> RtpPacket::Parse(std::span<const uint8_t> bytes) {
  if (bytes.size() < kHeaderSize || bytes.size() > kMaxSize) return std::nullopt;
  const uint8_t* p = bytes.data();
  if ((p[0] >> 6) != 2) return std::nullopt;
  const bool padding = p[0] & 0x20;
  const bool extension = p[0] & 0x10;
  const size_t csrc_count = p[0] & 0x0F;
  // RTCP shares the port in some set-ups; its packet types 200-204 land on 72-76 here.
  const uint8_t payload_type = p[1] & 0x7F;
  if (payload_type >= 72 && payload_type <= 76) return std::nullopt;
  size_t offset = kHeaderSize + 4 * csrc_count;
  if (offset > bytes.size()) return std::nullopt;
  if (extension) {
    if (offset + 4 > bytes.size()) return std::nullopt;
    offset += 4 + 4 * static_cast<size_t>(Read16(p + offset + 2));
    if (offset > bytes.size()) return std::nullopt;
  }
  size_t end = bytes.size();
  if (padding) {
    const size_t pad = p[end - 1];
    if (pad == 0 || pad > end - offset) return std::nullopt;
    end -= pad;
  }
  RtpPacket packet;
  packet.marker = p[1] & 0x80;
  packet.payload_type = payload_type;
  packet.sequence = Read16(p + 2);
  packet.timestamp = Read32(p + 4);
  packet.ssrc = Read32(p + 8);
  packet.payload = bytes.subspan(offset, end - offset);
  return packet;
}

void RtpPacket::WriteHeader(uint8_t* out, bool marker, uint8_t payload_type, uint16_t sequence,
                            uint32_t timestamp, uint32_t ssrc) {
  out[0] = 0x80;
  out[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | (payload_type & 0x7F));
  out[2] = static_cast<uint8_t>(sequence >> 8);
  out[3] = static_cast<uint8_t>(sequence);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(timestamp >> (24 - 8 * i));
  for (int i = 0; i < 4; ++i) out[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
}

}  // namespace vexalo
