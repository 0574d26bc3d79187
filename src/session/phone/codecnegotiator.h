#pragma once

#include <string>
#include <vector>

#include "session/phone/codec.h"
#include "session/phone/phonedescription.h"

namespace vexalo {

// Offers and answers from the codecs our voice engine has; an answer only ever holds codecs
// both sides list, so a peer that lacks one of ours is never asked to use it.
class CodecNegotiator {
 public:
  // The codec a channel sends with when nothing better is agreed.
  static constexpr const char* kFallbackCodec = "PCMU";

  CodecNegotiator() = default;
  // `codecs` as the engine reports them (id and name); preferences come from the table.
  explicit CodecNegotiator(const std::vector<Codec>& engine_codecs);

  const std::vector<Codec>& local_codecs() const { return local_; }

  // Every local codec, best first (stable among equals).
  PhoneDescription CreateOffer() const;
  // For each offered codec in offer order, our codecs of that name; then best first. Empty
  // when nothing is in common.
  PhoneDescription CreateAnswer(const PhoneDescription& offer) const;
  // The first voice codec of the remote list that we have too, or the fallback.
  std::string ChooseSendCodec(const std::vector<Codec>& remote) const;
  // Whether a description holds a codec a channel can send with (comfort noise cannot).
  static bool HasVoiceCodec(const PhoneDescription& description);

 private:
  std::vector<Codec> local_;
};

}  // namespace vexalo
