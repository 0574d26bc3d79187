#pragma once

#include <ostream>

namespace vexalo {

// Where signing in stands; the numbers are those the user interface and the logs show.
enum class LoginState {
  kSignedOut = 0,
  kConnecting = 1,
  kAuthenticating = 2,
  kSignedIn = 3,
  kWaitingToReconnect = 4,
};

// The console's and the logs' name of a state ("signed-in", ...).
const char* LoginStateName(LoginState state);
inline std::ostream& operator<<(std::ostream& out, LoginState state) {
  return out << LoginStateName(state);
}

}  // namespace vexalo
