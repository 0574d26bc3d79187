#pragma once

#include <memory>
#include <string>

#include "app/connectionattempt.h"
#include "base/runtime/secrettext.h"
#include "xmpp/stream/preloginauthenticator.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// What one sign-in attempt connects with.
struct LoginSettings {
  XmppAddress account;  // node and domain
  std::string resource;
  SecretText password;
  SecretText token;
  bool tls_required = true;
  ConnectionAttempt attempt;
  // Extra CA certificates for private servers.
  std::string ca_file;
  // Verify the server's certificate for this name rather than the account's domain.
  std::string tls_server_name;
  // The account service's token exchange runs first (service accounts only).
  std::unique_ptr<PreLoginAuthenticator> authenticator;
};

}  // namespace vexalo
