#pragma once

#include <string>
#include <vector>

#include "base/net/socketaddress.h"
#include "p2p/base/protocoladdress.h"

namespace vexalo {

// One relay server: the addresses that reach it and its preference among relays.
struct RelayServerEntry {
  std::vector<ProtocolAddress> addresses;
  float preference = 0.0f;
};

// A standard TURN server (UDP) with long-term credentials, such as the user's own XMPP
// server announces.
struct TurnServerEntry {
  SocketAddress address;
  std::string username;
  std::string password;
};

// What a relay session gave: the STUN server (IPv4 0: none), the relay credentials and the
// relay servers.
struct PortConfiguration {
  SocketAddress stun_address;
  std::string username;
  std::string password;
  std::string magic_cookie;
  std::vector<RelayServerEntry> relays;
  std::vector<TurnServerEntry> turn_servers;
};

}  // namespace vexalo
