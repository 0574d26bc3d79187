#pragma once

#include <memory>
#include <string>

#include "p2p/base/candidate.h"
#include "xml/xmlelem.h"

namespace vexalo {

// The "candidate" element of session messages and the rules a remote candidate must pass.
class CandidateElement {
 public:
  // False (with the logged reason in `error`) for a candidate that breaks a rule. Only IPv4
  // literals are taken: a host name would need a blocking lookup on the signalling thread.
  static bool Parse(const XmlElem& element, Candidate* out, std::string* error);
  static std::unique_ptr<XmlElem> Write(const Candidate& candidate, const XmlName& name);
  // Six significant digits, locale-independent: 1.0 is "1", 0.9 is "0.9".
  static std::string FormatPreference(float preference);

  static constexpr size_t kMaxUsernameLength = 16;
};

}  // namespace vexalo
