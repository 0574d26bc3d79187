#pragma once

#include "base/net/socketaddress.h"
#include "p2p/base/stunattr.h"

namespace vexalo {

// Zero byte, family, port, IPv4 address. The family is not checked here: every user rejects
// anything but IPv4 with its own message.
class AddressAttr : public StunAttr {
 public:
  static constexpr uint16_t kSize = 8;
  explicit AddressAttr(uint16_t type) : StunAttr(type, kSize) {}

  bool ReadValue(WireBuffer* reader) override;
  void WriteValue(WireBuffer* writer) const override;

  uint8_t family() const { return family_; }
  uint16_t port() const { return port_; }
  uint32_t ip() const { return ip_; }
  SocketAddress address() const { return SocketAddress(ip_, port_); }
  void SetFamily(uint8_t family) { family_ = family; }
  void SetPort(uint16_t port) { port_ = port; }
  void SetIP(uint32_t ip) { ip_ = ip; }
  // An IPv4 address with its port and family 1.
  void SetAddress(const SocketAddress& address);

 private:
  uint8_t family_ = 0;
  uint16_t port_ = 0;
  uint32_t ip_ = 0;
};

}  // namespace vexalo
