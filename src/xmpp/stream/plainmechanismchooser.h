#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/runtime/secrettext.h"
#include "xmpp/stream/mechanismchooser.h"
#include "xmpp/stream/servicedomains.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// The identity PLAIN presents for `user`: node@domain for the service's own accounts, the
// node alone elsewhere (what standard servers take as the authentication identity).
std::string PlainAuthIdentity(const XmppAddress& user);

// The chooser used when no pre-login step runs: PLAIN with the account's password, and only
// over an encrypted stream. `allow_clear` lifts that for a test server on the loopback
// interface, which the connection alone decides.
class PlainMechanismChooser : public MechanismChooser {
 public:
  PlainMechanismChooser(const XmppAddress& user, SecretText password, bool allow_clear)
      : user_(user), password_(std::move(password)), allow_clear_(allow_clear) {}

  std::string ChooseMechanism(const std::vector<std::string>& offered, bool encrypted) override;
  std::unique_ptr<AuthMechanism> CreateMechanism(std::string_view name) override;

 private:
  XmppAddress user_;
  SecretText password_;
  bool allow_clear_;
};

}  // namespace vexalo
