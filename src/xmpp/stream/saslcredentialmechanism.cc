#include "xmpp/stream/saslcredentialmechanism.h"

#include <glib.h>

#include <cstring>

#include "base/runtime/securebuffer.h"
#include "xmpp/stream/constants.h"

namespace vexalo {

std::unique_ptr<XmlElem> SaslCredentialMechanism::StartAuth() {
  SecureBuffer payload;
  payload.AppendByte(0);
  payload.Append(identity_);
  payload.AppendByte(0);
  {
    ScopedClearText secret(secret_);
    payload.Append(secret.data(), secret.size());
  }
  auto auth = std::make_unique<XmlElem>(kQnSaslAuth, true);
  auth->AppendAttribute(kQnMechanism, name_);
  gchar* encoded = g_base64_encode(payload.data(), payload.size());
  auth->AppendText(encoded);
  SecureZero(encoded, std::strlen(encoded));
  g_free(encoded);
  return auth;
}

std::unique_ptr<XmlElem> SaslCredentialMechanism::HandleChallenge(const XmlElem& /*challenge*/) {
  // One-message mechanisms: a challenge means the server wants something we do not have.
  return std::make_unique<XmlElem>(kQnSaslAbort, true);
}

}  // namespace vexalo
