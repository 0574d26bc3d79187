#include "xmpp/stream/plainmechanismchooser.h"

#include <algorithm>

#include "xmpp/stream/constants.h"
#include "xmpp/stream/saslcredentialmechanism.h"

namespace vexalo {

// The service's own servers expect the whole address as the PLAIN identity; other XMPP
// servers expect the local part alone.
std::string PlainAuthIdentity(const XmppAddress& user) {
  if (IsServiceAccountDomain(user.DomainPart())) return user.ToString();
  return user.NodePart();
}

std::string PlainMechanismChooser::ChooseMechanism(const std::vector<std::string>& offered,
                                                   bool encrypted) {
  if (!encrypted && !allow_clear_) return {};
  if (std::find(offered.begin(), offered.end(), kMechanismPlain) == offered.end()) return {};
  return std::string(kMechanismPlain);
}

std::unique_ptr<AuthMechanism> PlainMechanismChooser::CreateMechanism(std::string_view name) {
  if (name != kMechanismPlain) return nullptr;
  return std::make_unique<SaslCredentialMechanism>(kMechanismPlain, PlainAuthIdentity(user_),
                                                   password_);
}

}  // namespace vexalo
