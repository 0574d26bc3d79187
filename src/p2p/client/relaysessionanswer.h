#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "p2p/client/portconfiguration.h"

namespace vexalo {

// Reads the key=value body of a relay session answer into a configuration. Every value is
// checked: ports from 1 to 65535, the relay address a dotted IPv4 address, credentials of
// bounded size; what fails a check is left out and logged.
class RelaySessionAnswer {
 public:
  static constexpr size_t kMaxBodyBytes = 8192;
  static constexpr size_t kMaxLineBytes = 512;
  static constexpr size_t kMaxCredentialBytes = 128;

  // False when the body or a credential is too large to be an answer; the configuration is
  // then untouched.
  // `stun` is the allocator's STUN server, copied into the configuration.
  static bool Parse(std::string_view body, const SocketAddress& stun, PortConfiguration* out);
};

}  // namespace vexalo
