#pragma once

#include <string>

#include "base/runtime/secrettext.h"
#include "base/runtime/signal.h"
#include "base/net/socketaddress.h"
#include "xmpp/stream/mechanismchooser.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// An authentication step run before the XMPP login (the account service's token exchange),
// which afterwards chooses and creates the SASL mechanism presenting what it obtained. The
// connection connects to SignalAuthDone, calls StartPreLogin once, waits for the signal, and
// on success hands the object to the stream engine as its mechanism chooser.
class PreLoginAuthenticator : public MechanismChooser {
 public:
  // Until the step has finished, ChooseMechanism must answer the empty string so that a login
  // cannot start early.
  virtual void StartPreLogin(const XmppAddress& user, const SocketAddress& server,
                             const SecretText& password, const SecretText& stored_token) = 0;
  virtual bool IsAuthDone() const = 0;
  // Finished and the credentials were accepted.
  virtual bool IsAuthorized() const = 0;
  // Finished and failed for a reason of its own (network, proxy, certificate) rather than a
  // refusal of the credentials.
  virtual bool HadError() const = 0;
  // Finished and not authorized: what the next attempt must answer; empty when nothing.
  virtual std::string GetCaptchaChallenge() const = 0;
  // Finished and authorized: the token obtained; otherwise empty.
  virtual std::string GetAuthCookie() const = 0;

  // Emitted once, on the thread that started the step, when it has finished.
  Signal<> SignalAuthDone;
};

}  // namespace vexalo
