#pragma once

#include <string>

#include "session/phone/connectioninfo.h"

namespace vexalo {

// How a connection carries the call, for the user: "relay", "ssltcp", "tcp", "stun" (through
// a NAT's mapped address) or "local".
std::string ConnectionPath(const ConnectionInfo& info);

}  // namespace vexalo
