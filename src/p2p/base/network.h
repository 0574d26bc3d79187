#pragma once

#include <cstdint>
#include <string>

namespace vexalo {

// A local network a port binds to: its name and IPv4 address (host order).
struct Network {
  std::string name;
  uint32_t ip = 0;
};

}  // namespace vexalo
