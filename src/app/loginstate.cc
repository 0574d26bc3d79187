#include "app/loginstate.h"

namespace vexalo {

const char* LoginStateName(LoginState state) {
  switch (state) {
    case LoginState::kSignedOut:
      return "signed-out";
    case LoginState::kConnecting:
      return "connecting";
    case LoginState::kAuthenticating:
      return "authenticating";
    case LoginState::kSignedIn:
      return "signed-in";
    case LoginState::kWaitingToReconnect:
      return "reconnecting";
  }
  return "unknown";
}

}  // namespace vexalo
