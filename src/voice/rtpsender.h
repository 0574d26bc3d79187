#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vexalo {

// Numbers outgoing frames of one stream: a random SSRC, sequence number and first timestamp
// (RFC 3550 section 5.1, so that streams cannot be guessed or confused after a restart).
class RtpSender {
 public:
  RtpSender();

  // The packet for one encoded frame covering `samples` ticks of the codec's RTP clock.
  // The marker starts a talk spurt (first packet, or first after silence).
  std::vector<uint8_t> Packetize(uint8_t payload_type, std::span<const uint8_t> payload,
                                 uint32_t samples, bool marker);
  // Time passes without a packet (DTX): the next packet's timestamp moves on by `samples`.
  void Skip(uint32_t samples) { timestamp_ += samples; }

  uint32_t ssrc() const { return ssrc_; }
  uint16_t next_sequence() const { return sequence_; }
  uint32_t next_timestamp() const { return timestamp_; }

 private:
  uint32_t ssrc_;
  uint16_t sequence_;
  uint32_t timestamp_;
};

}  // namespace vexalo
