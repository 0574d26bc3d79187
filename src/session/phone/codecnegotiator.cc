#include "session/phone/codecnegotiator.h"

#include <algorithm>

#include "session/phone/codecpreference.h"

namespace vexalo {
namespace {

void SortByPreference(std::vector<Codec>* codecs) {
  std::stable_sort(codecs->begin(), codecs->end(),
                   [](const Codec& a, const Codec& b) { return a.preference > b.preference; });
}

// Comfort noise rides along with a voice codec; a channel cannot send with it alone.
bool IsVoiceCodec(const std::string& name) { return name != "CN"; }

}  // namespace

CodecNegotiator::CodecNegotiator(const std::vector<Codec>& engine_codecs) {
  for (const Codec& codec : engine_codecs) {
    local_.push_back(Codec{codec.id, codec.name, CodecPreference(codec.name)});
  }
}

PhoneDescription CodecNegotiator::CreateOffer() const {
  std::vector<Codec> codecs = local_;
  SortByPreference(&codecs);
  return PhoneDescription(std::move(codecs));
}

PhoneDescription CodecNegotiator::CreateAnswer(const PhoneDescription& offer) const {
  std::vector<Codec> codecs;
  for (const Codec& offered : offer.codecs()) {
    for (const Codec& local : local_) {
      if (local.name == offered.name) codecs.push_back(local);
    }
  }
  SortByPreference(&codecs);
  return PhoneDescription(std::move(codecs));
}

std::string CodecNegotiator::ChooseSendCodec(const std::vector<Codec>& remote) const {
  for (const Codec& codec : remote) {
    if (!IsVoiceCodec(codec.name)) continue;
    for (const Codec& local : local_) {
      if (local.name == codec.name) return codec.name;
    }
  }
  return kFallbackCodec;
}

bool CodecNegotiator::HasVoiceCodec(const PhoneDescription& description) {
  for (const Codec& codec : description.codecs()) {
    if (IsVoiceCodec(codec.name)) return true;
  }
  return false;
}

}  // namespace vexalo
