#pragma once

#include <string>

#include "base/runtime/secrettext.h"
#include "base/net/socketaddress.h"

namespace vexalo {

enum ProxyType {
  PROXY_NONE = 0,
  PROXY_HTTPS = 1,
  PROXY_SOCKS5 = 2,
  PROXY_UNKNOWN = 3,  // configured, but its kind is still to be probed
};

// "none", "https", "socks5", "unknown" (as in logs and settings).
const char* ProxyToString(ProxyType type);

struct ProxySettings {
  ProxyType type = PROXY_NONE;
  SocketAddress address;
  std::string username;
  SecretText password;
};

}  // namespace vexalo
