#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xmlelem.h"

namespace vexalo {

// One SASL mechanism run during login: it builds the auth element and answers challenges.
class AuthMechanism {
 public:
  virtual ~AuthMechanism() = default;
  virtual std::string Name() const = 0;
  // The auth element to send, or null when the mechanism cannot start.
  virtual std::unique_ptr<XmlElem> StartAuth() = 0;
  // The element to answer with, or null when the exchange cannot continue.
  virtual std::unique_ptr<XmlElem> HandleChallenge(const XmlElem& challenge) = 0;
  virtual void OnSuccess(const XmlElem& /*success*/) {}
  virtual void OnFailure(const XmlElem& /*failure*/) {}
};

// Picks the SASL mechanism for a login; owned by the stream engine once handed to it.
class MechanismChooser {
 public:
  virtual ~MechanismChooser() = default;
  // `offered` is in the server's order; the empty string when none is acceptable.
  virtual std::string ChooseMechanism(const std::vector<std::string>& offered, bool encrypted) = 0;
  // Null for a name this chooser does not know.
  virtual std::unique_ptr<AuthMechanism> CreateMechanism(std::string_view name) = 0;
};

}  // namespace vexalo
