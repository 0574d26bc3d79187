#pragma once

#include <vector>

#include "p2p/client/sessiondescription.h"
#include "session/phone/codec.h"

namespace vexalo {

// What one side of a call offers or answers: its codecs, best first.
class PhoneDescription : public SessionDescription {
 public:
  PhoneDescription() = default;
  explicit PhoneDescription(std::vector<Codec> codecs) : codecs_(std::move(codecs)) {}

  const std::vector<Codec>& codecs() const { return codecs_; }

 private:
  std::vector<Codec> codecs_;
};

}  // namespace vexalo
