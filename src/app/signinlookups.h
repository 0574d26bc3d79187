#pragma once

#include <string>

#include "app/proxydetector.h"
#include "app/serverlookup.h"

namespace vexalo {

// Where signing in gets its proxy and server answers from: the machine's configuration and
// DNS in the program (app/linux), scripted answers in the fast tests.
class SignInLookups {
 public:
  virtual ~SignInLookups() = default;
  // A new detection for reaching `server`, not yet started.
  virtual ProxyDetector* NewProxyDetector(const ProxyOptions& options,
                                          const SocketAddress& server) = 0;
  // A new lookup of `domain`'s servers, not yet started.
  virtual ServerLookup* NewServerLookup(const std::string& domain) = 0;
};

}  // namespace vexalo
