#pragma once

#include <memory>
#include <string>

#include "p2p/client/descriptionformat.h"

namespace vexalo {

// Takes any "description" element of one namespace as it stands (`XmlDescription`).
class XmlDescriptionFormat : public DescriptionFormat {
 public:
  explicit XmlDescriptionFormat(std::string description_namespace);

  const std::string& description_namespace() const override { return namespace_; }
  std::shared_ptr<const SessionDescription> ParseDescription(const XmlElem& element) override;
  std::unique_ptr<XmlElem> WriteDescription(const SessionDescription& description) override;

 private:
  std::string namespace_;
};

}  // namespace vexalo
