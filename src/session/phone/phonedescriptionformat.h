#pragma once

#include <memory>
#include <string>

#include "p2p/client/descriptionformat.h"
#include "session/phone/phonedescription.h"

namespace vexalo {

// The phone namespace's "description": one "payload-type" (id, name) per codec.
class PhoneDescriptionFormat : public DescriptionFormat {
 public:
  // A description may name many payload types; more than this are not kept.
  static constexpr size_t kMaxCodecs = 32;
  // RTP carries seven bits of payload type.
  static constexpr int kMaxPayloadType = 127;

  explicit PhoneDescriptionFormat(std::string phone_namespace);

  const std::string& description_namespace() const override { return namespace_; }
  // Never refuses: a description without payload types is the offer of an old peer.
  std::shared_ptr<const SessionDescription> ParseDescription(const XmlElem& element) override;
  std::unique_ptr<XmlElem> WriteDescription(const SessionDescription& description) override;

  PhoneDescription Parse(const XmlElem& element) const;
  std::unique_ptr<XmlElem> Write(const PhoneDescription& description) const;

 private:
  std::string namespace_;
};

}  // namespace vexalo
