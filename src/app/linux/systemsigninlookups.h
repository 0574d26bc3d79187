#pragma once

#include "app/signinlookups.h"

namespace vexalo {

// Sign-in's lookups on this system: AutoDetectProxy (environment, desktop settings, PAC, then
// a probe) and SrvLookup (GIO's resolver).
class SystemSignInLookups : public SignInLookups {
 public:
  ProxyDetector* NewProxyDetector(const ProxyOptions& options,
                                  const SocketAddress& server) override;
  ServerLookup* NewServerLookup(const std::string& domain) override;
};

}  // namespace vexalo
