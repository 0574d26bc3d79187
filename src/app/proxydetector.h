#pragma once

#include <cstdint>
#include <string>

#include "base/proxy/proxysettings.h"
#include "base/runtime/signal.h"

namespace vexalo {

// The user's proxy options, as the settings hold them.
struct ProxyOptions {
  bool autodetect = true;
  std::string host;
  uint16_t port = 0;
  bool use_auth = false;
  std::string username;
  SecretText password;
};

// Finds the proxy through which to reach the XMPP server before a sign-in. One detection per
// object; disposed of with Dispose, never deleted.
class ProxyDetector {
 public:
  // Without anything to detect, SignalDetected fires before Start returns.
  virtual void Start() = 0;
  // Valid once SignalDetected fired.
  virtual const ProxySettings& proxy() const = 0;
  // Stops the detection and lets the object go; nothing is reported after this.
  virtual void Dispose() = 0;

  // Once, on the thread that made the detector.
  Signal<ProxyDetector*> SignalDetected;

 protected:
  virtual ~ProxyDetector() = default;
};

}  // namespace vexalo
