#include "p2p/base/addressattr.h"

#include "p2p/base/stunconstants.h"
#include "p2p/base/wirebuffer.h"

namespace vexalo {

bool AddressAttr::ReadValue(WireBuffer* reader) {
  uint8_t zero;
  return reader->ReadU8(&zero) && reader->ReadU8(&family_) && reader->ReadU16(&port_) &&
         reader->ReadU32(&ip_);
}

void AddressAttr::WriteValue(WireBuffer* writer) const {
  writer->WriteU8(0);
  writer->WriteU8(family_);
  writer->WriteU16(port_);
  writer->WriteU32(ip_);
}

void AddressAttr::SetAddress(const SocketAddress& address) {
  family_ = STUN_ADDRESS_IPV4;
  port_ = address.port();
  ip_ = address.ip();
}

}  // namespace vexalo
