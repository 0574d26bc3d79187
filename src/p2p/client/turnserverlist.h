#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "p2p/client/portconfiguration.h"
#include "xmpp/server/externalservice.h"

namespace vexalo {

// Which of the services the user's server announces the allocator can use as relays: TURN
// over UDP with credentials, at an IPv4 address, in the server's order.
class TurnServerList {
 public:
  static constexpr uint16_t kDefaultTurnPort = 3478;
  // One relay port per entry and allocation run: a few are plenty.
  static constexpr size_t kMaxServers = 4;

  // An entry given by host name keeps it unresolved (IPv4 0): the caller looks it up off the
  // loop threads.
  static std::vector<TurnServerEntry> FromExternalServices(
      const std::vector<ExternalService>& services);
};

}  // namespace vexalo
