#pragma once

#include <vector>

#include "base/runtime/signal.h"
#include "base/net/socketaddress.h"

namespace vexalo {

// Finds the XMPP servers of a domain (its "_xmpp-client._tcp" records). One lookup per
// object; disposed of with Dispose, never deleted.
class ServerLookup {
 public:
  virtual void Start() = 0;
  // In the order to try them; empty when the domain names none. Valid once SignalDone fired.
  virtual const std::vector<SocketAddress>& targets() const = 0;
  // Stops the lookup and lets the object go; nothing is reported after this.
  virtual void Dispose() = 0;

  // Once, on the thread that made the lookup.
  Signal<ServerLookup*> SignalDone;

 protected:
  virtual ~ServerLookup() = default;
};

}  // namespace vexalo
