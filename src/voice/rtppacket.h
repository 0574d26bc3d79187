#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vexalo {

// One RTP packet (RFC 3550 section 5.1) as it sits in a received buffer: the payload is a view
// into that buffer, CSRCs, header extension and padding already stepped over.
struct RtpPacket {
  // Nothing larger fits one Ethernet frame; anything bigger is not a voice packet of ours.
  static constexpr size_t kMaxSize = 1500;
  static constexpr size_t kHeaderSize = 12;

  bool marker = false;
  uint8_t payload_type = 0;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0;
  std::span<const uint8_t> payload;

  // None when the bytes are not a well-formed RTP version 2 packet of at most kMaxSize bytes.
  static std::optional<RtpPacket> Parse(std::span<const uint8_t> bytes);
  // Writes the fixed 12-byte header (no CSRCs, no extension) in front of the payload.
  static void WriteHeader(uint8_t* out, bool marker, uint8_t payload_type, uint16_t sequence,
                          uint32_t timestamp, uint32_t ssrc);
};

}  // namespace vexalo
