#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/net/socketaddress.h"
#include "xml/xmlelem.h"

namespace vexalo {

// The STUN servers, relay hosts and relay token that the server hands out for calls
// ("ombrix:relayinfo"). Parsed from the network, so every field is checked before the port
// allocator may use it: entries that fail are dropped, never passed on half-read.
struct RelayInfo {
  // Real answers list a handful; anything past these is ignored.
  static constexpr size_t kMaxServers = 16;
  static constexpr size_t kMaxTokenLength = 1024;
  static constexpr size_t kMaxHostNameLength = 253;

  std::string token;
  std::vector<std::string> relay_hosts;
  std::vector<SocketAddress> stun_servers;

  // From a <query xmlns="ombrix:relayinfo"/>: missing parts give empty fields.
  static RelayInfo Parse(const XmlElem& query);

  // A DNS name (letters, digits, '-' and '.', labels of 1..63) or a dotted IPv4 address.
  static bool IsValidHostName(std::string_view host);
  // Decimal 1..65535, digits only.
  static bool ParsePort(std::string_view text, uint16_t* port);
  // Printable ASCII without blanks, at most kMaxTokenLength: the token goes into relay
  // requests and HTTP headers.
  static bool IsValidToken(std::string_view token);
};

}  // namespace vexalo
