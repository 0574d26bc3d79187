#pragma once

#include <memory>
#include <string>

#include "p2p/client/sessiondescription.h"
#include "xml/xmlelem.h"

namespace vexalo {

// Turns one session client's description element into its description object and back.
class DescriptionFormat {
 public:
  virtual ~DescriptionFormat() = default;
  // The namespace of the client's "description" element.
  virtual const std::string& description_namespace() const = 0;
  // Null refuses the description (the message is answered with an error).
  virtual std::shared_ptr<const SessionDescription> ParseDescription(const XmlElem& element) = 0;
  virtual std::unique_ptr<XmlElem> WriteDescription(const SessionDescription& description) = 0;
};

}  // namespace vexalo
