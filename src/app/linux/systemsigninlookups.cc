#include "app/linux/systemsigninlookups.h"

#include "app/linux/autodetectproxy.h"
#include "app/linux/srvlookup.h"

namespace vexalo {

ProxyDetector* SystemSignInLookups::NewProxyDetector(const ProxyOptions& options,
                                                     const SocketAddress& server) {
  return new AutoDetectProxy(options, server);
}

ServerLookup* SystemSignInLookups::NewServerLookup(const std::string& domain) {
  return new SrvLookup(domain);
}

}  // namespace vexalo
