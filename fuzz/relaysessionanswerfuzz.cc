// Parses arbitrary relay session answers. Whatever the body, the parser must not crash,
// and every relay address it keeps must be IPv4 with a port from 1 to 65535.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "p2p/client/relaysessionanswer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vexalo;
  PortConfiguration config;
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  if (!RelaySessionAnswer::Parse(body, SocketAddress(0x7F000001, 3478), &config)) return 0;
  if (config.relays.size() != 1) abort();
  for (const ProtocolAddress& address : config.relays[0].addresses) {
    if (address.address.port() == 0 || address.address.ip() == 0) abort();
  }
  if (config.username.size() > RelaySessionAnswer::kMaxCredentialBytes) abort();
  return 0;
}
