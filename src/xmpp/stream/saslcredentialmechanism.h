#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/runtime/secrettext.h"
#include "xmpp/stream/mechanismchooser.h"

namespace vexalo {

inline constexpr std::string_view kMechanismPlain = "PLAIN";
inline constexpr std::string_view kMechanismToken = "X-OMBRIX-TOKEN";
inline constexpr std::string_view kMechanismCookie = "X-OMBRIX-COOKIE";

// The three mechanisms this client speaks all send one message, NUL + identity + NUL +
// secret in Base64, and abort any challenge: PLAIN with a password, the service's token and
// cookie mechanisms with what the account service issued.
class SaslCredentialMechanism : public AuthMechanism {
 public:
  SaslCredentialMechanism(std::string_view name, std::string_view identity, SecretText secret)
      : name_(name), identity_(identity), secret_(std::move(secret)) {}

  std::string Name() const override { return name_; }
  std::unique_ptr<XmlElem> StartAuth() override;
  std::unique_ptr<XmlElem> HandleChallenge(const XmlElem& challenge) override;

 private:
  std::string name_;
  std::string identity_;
  SecretText secret_;
};

}  // namespace vexalo
