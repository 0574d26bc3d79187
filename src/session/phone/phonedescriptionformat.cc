#include "session/phone/phonedescriptionformat.h"

#include <cstdio>

namespace vexalo {
namespace {

// The value of the leading decimal digits; -1 when it exceeds `limit` (and 0 without digits).
int LeadingNumber(const std::string& text, int limit) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > limit) return -1;
  }
  return value;
}

}  // namespace

PhoneDescriptionFormat::PhoneDescriptionFormat(std::string phone_namespace)
    : namespace_(std::move(phone_namespace)) {}

PhoneDescription PhoneDescriptionFormat::Parse(const XmlElem& element) const {
  const XmlName payload_type(namespace_, "payload-type");
  const XmlName id_attr("", "id");
  const XmlName name_attr("", "name");
  std::vector<Codec> codecs;
  bool listed = false;
  for (const XmlElem* child = element.FindChild(payload_type); child != nullptr;
       child = child->FindNextSibling(payload_type)) {
    listed = true;
    if (!child->HasAttribute(id_attr) || !child->HasAttribute(name_attr)) continue;
    // A payload type RTP cannot carry could never be sent or matched.
    int id = LeadingNumber(child->GetAttribute(id_attr), kMaxPayloadType);
    if (id < 0) continue;
    if (codecs.size() == kMaxCodecs) break;
    codecs.push_back(Codec{id, child->GetAttribute(name_attr), 0});
  }
  if (!listed) {
    // A peer that names no payload types speaks the original two.
    codecs = {Codec{103, "ISAC", 1}, Codec{0, "PCMU", 0}};
  }
  return PhoneDescription(std::move(codecs));
}

std::unique_ptr<XmlElem> PhoneDescriptionFormat::Write(const PhoneDescription& description) const {
  auto element = std::make_unique<XmlElem>(XmlName(namespace_, "description"), true);
  for (const Codec& codec : description.codecs()) {
    auto child = std::make_unique<XmlElem>(XmlName(namespace_, "payload-type"));
    char id[16];
    std::snprintf(id, sizeof(id), "%d", codec.id);
    child->SetAttribute(XmlName("", "id"), id);
    child->SetAttribute(XmlName("", "name"), codec.name);
    element->AppendChild(std::move(child));
  }
  return element;
}

std::shared_ptr<const SessionDescription> PhoneDescriptionFormat::ParseDescription(
    const XmlElem& element) {
  return std::make_shared<PhoneDescription>(Parse(element));
}

std::unique_ptr<XmlElem> PhoneDescriptionFormat::WriteDescription(
    const SessionDescription& description) {
  const auto* phone = dynamic_cast<const PhoneDescription*>(&description);
  return Write(phone != nullptr ? *phone : PhoneDescription());
}

}  // namespace vexalo
