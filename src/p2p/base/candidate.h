#pragma once

#include <cstdint>
#include <string>

#include "base/net/socketaddress.h"

namespace vexalo {

// Protocols as they travel in numbers.
enum ProtocolType { PROTO_UDP = 0, PROTO_TCP = 1, PROTO_SSLTCP = 2 };

// "udp", "tcp", "ssltcp"; null for any other number.
const char* ProtoToString(int proto);
// False for a name that is none of the three.
bool StringToProto(const std::string& name, ProtocolType* proto);

// A transport address offered to the peer, copied by value.
struct Candidate {
  std::string name;      // the P2P socket's name
  std::string protocol;  // "udp", "tcp" or "ssltcp"
  SocketAddress address;
  float preference = 0;
  std::string username;  // the port's username fragment
  std::string password;
  std::string type;  // "local", "stun" or "relay"
  std::string network_name;
  uint32_t generation = 0;

  // Preference and network name are not part of a candidate's identity.
  bool operator==(const Candidate& other) const;
  bool operator!=(const Candidate& other) const { return !(*this == other); }
};

}  // namespace vexalo
