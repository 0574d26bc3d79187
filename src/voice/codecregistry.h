#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "voice/audiocodec.h"
#include "voice/codecinfo.h"

namespace vexalo {

// The codecs this engine offers, in the order it reports them, and the factory for their
// per-stream state. CN is listed for negotiation; it is sent only for silence.
class CodecRegistry {
 public:
  static std::span<const CodecInfo> All();
  static const CodecInfo* FindByName(std::string_view name);
  static const CodecInfo* FindByPayloadType(int payload_type);
  // A fresh codec state, or none for CN (which has no frames of its own).
  static std::unique_ptr<AudioCodec> Create(const CodecInfo& info);
};

}  // namespace vexalo
