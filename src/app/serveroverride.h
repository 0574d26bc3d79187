#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexalo {

// A server override as the user types it: "host" or "host:port".
struct ServerOverride {
  std::string host;
  uint16_t port = 0;  // 0: the default one

  // False for an empty host or a port that is not 1..65535.
  static bool Parse(std::string_view text, ServerOverride* out);
};

}  // namespace vexalo
