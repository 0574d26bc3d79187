#include "voice/codecregistry.h"

#include <array>
#include <cstring>

#include "voice/comfortnoise.h"
#include "voice/g711codec.h"
#include "voice/opuscodec.h"
#include "voice/speexcodec.h"

namespace vexalo {
namespace {

// Dynamic payload types for the codecs without a static one (RFC 3551 section 6).
constexpr int kOpusPayloadType = 111;
constexpr int kSpeexPayloadType = 110;

constexpr std::array<CodecInfo, 5> kCodecs = {{
    {kOpusPayloadType, "opus", 48000, 48000, 20, 1},
    {kSpeexPayloadType, "speex", 8000, 8000, 20, 1},
    {0, "PCMU", 8000, 8000, 20, 1},
    {8, "PCMA", 8000, 8000, 20, 1},
    {ComfortNoise::kPayloadType, "CN", 8000, 8000, 20, 1},
}};

}  // namespace

std::span<const CodecInfo> CodecRegistry::All() { return kCodecs; }

const CodecInfo* CodecRegistry::FindByName(std::string_view name) {
  for (const CodecInfo& codec : kCodecs) {
    if (name == codec.name) return &codec;
  }
  return nullptr;
}

const CodecInfo* CodecRegistry::FindByPayloadType(int payload_type) {
  for (const CodecInfo& codec : kCodecs) {
    if (codec.payload_type == payload_type) return &codec;
  }
  return nullptr;
}

std::unique_ptr<AudioCodec> CodecRegistry::Create(const CodecInfo& info) {
  switch (info.payload_type) {
    case kOpusPayloadType:
      return std::make_unique<OpusCodec>();
    case kSpeexPayloadType:
      return std::make_unique<SpeexCodec>();
    case 0:
      return std::make_unique<G711Codec>(G711Codec::Law::kMu);
    case 8:
      return std::make_unique<G711Codec>(G711Codec::Law::kA);
    default:
      return nullptr;
  }
}

}  // namespace vexalo
