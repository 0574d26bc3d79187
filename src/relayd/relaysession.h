#pragma once

#include <string>

#include "base/runtime/timeutils.h"

namespace vexalo {

// Credentials handed out by "/create_session"; an allocation must name the username and
// carry the cookie.
struct RelaySession {
  std::string username;
  std::string password;
  std::string magic_cookie;
  Tick expires = 0;
};

}  // namespace vexalo
