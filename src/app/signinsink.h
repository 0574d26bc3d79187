#pragma once

#include <string>

#include "app/loginstate.h"
#include "xmpp/stream/streamengine.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// What the application object reports about its connection to whoever manages signing in.
class SignInSink {
 public:
  virtual ~SignInSink() = default;
  virtual void SetLoginState(LoginState state) = 0;
  virtual void OnSignedIn(const XmppAddress& bound) = 0;
  // The connection closed in order (signed out).
  virtual void OnSignedOut() = 0;
  // A signed-in connection was lost; `conflict`: another sign-in with the same resource took
  // over.
  virtual void OnConnectionLost(EngineError error, bool conflict) = 0;
  // An attempt failed before signing in; `captcha` is the account service's challenge.
  virtual void HandleConnectionError(EngineError error, const std::string& captcha) = 0;
  // A proxy asked for credentials.
  virtual void OnProxyAuthenticationRequired() = 0;
};

}  // namespace vexalo
