#pragma once

// vexalo-relayd's client messages for the benchmarks: an allocation, and a Send Request that
// may ask for the lock.
#include <cstdint>
#include <memory>
#include <string>

#include "p2p/base/stunpacket.h"
#include "p2p/base/wirebuffer.h"

namespace vexalo {

inline std::string RelaydMessage(uint16_t type, const std::string& username,
                                 const std::string& magic_cookie,
                                 const SocketAddress* destination, bool lock) {
  StunPacket packet;
  packet.SetType(type);
  auto cookie = StunPacket::CreateBytes(STUN_ATTR_MAGIC_COOKIE);
  cookie->CopyBytes(magic_cookie);
  packet.Append(std::move(cookie));
  auto user = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
  user->CopyBytes(username);
  packet.Append(std::move(user));
  if (destination) {
    auto address = StunPacket::CreateAddress(STUN_ATTR_DESTINATION_ADDRESS);
    address->SetAddress(*destination);
    packet.Append(std::move(address));
    if (lock) packet.Append(std::make_unique<U32Attr>(STUN_ATTR_OPTIONS, 1));
    auto data = StunPacket::CreateBytes(STUN_ATTR_DATA);
    data->CopyBytes("lock", 4);
    packet.Append(std::move(data));
  }
  WireBuffer bytes;
  packet.Serialize(&bytes);
  return std::string(bytes.Data(), bytes.Length());
}

}  // namespace vexalo
