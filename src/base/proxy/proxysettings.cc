#include "base/proxy/proxysettings.h"

namespace vexalo {

const char* ProxyToString(ProxyType type) {
  switch (type) {
    case PROXY_NONE: return "none";
    case PROXY_HTTPS: return "https";
    case PROXY_SOCKS5: return "socks5";
    case PROXY_UNKNOWN: return "unknown";
  }
  return "unknown";
}

}  // namespace vexalo
