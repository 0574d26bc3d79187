#pragma once

#include <memory>

#include "p2p/client/sessiondescription.h"
#include "xml/xmlelem.h"

namespace vexalo {

// A description kept as the element it came in: enough for clients whose description
// carries nothing the session layer must understand.
class XmlDescription : public SessionDescription {
 public:
  explicit XmlDescription(const XmlElem& element) : element_(element) {}
  const XmlElem& element() const { return element_; }

 private:
  XmlElem element_;
};

}  // namespace vexalo
