#pragma once

#include "base/net/socketaddress.h"
#include "p2p/base/candidate.h"

namespace vexalo {

// A server address and the transport that reaches it.
struct ProtocolAddress {
  SocketAddress address;
  ProtocolType proto = PROTO_UDP;
};

}  // namespace vexalo
