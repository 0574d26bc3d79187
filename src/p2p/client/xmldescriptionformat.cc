#include "p2p/client/xmldescriptionformat.h"

#include <utility>

#include "p2p/client/xmldescription.h"

namespace vexalo {

XmlDescriptionFormat::XmlDescriptionFormat(std::string description_namespace)
    : namespace_(std::move(description_namespace)) {}

std::shared_ptr<const SessionDescription> XmlDescriptionFormat::ParseDescription(
    const XmlElem& element) {
  if (element.Name().NamespaceUri() != namespace_) return nullptr;
  return std::make_shared<XmlDescription>(element);
}

std::unique_ptr<XmlElem> XmlDescriptionFormat::WriteDescription(
    const SessionDescription& description) {
  const auto* xml = dynamic_cast<const XmlDescription*>(&description);
  if (xml != nullptr) return std::make_unique<XmlElem>(xml->element());
  return std::make_unique<XmlElem>(XmlName(namespace_, "description"), true);
}

}  // namespace vexalo
