// Parses arbitrary text as a configured "host:port" address; nothing may crash, and what
// parses prints back to something that parses to the same address.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/net/socketaddress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  vexalo::SocketAddress address;
  if (!vexalo::SocketAddress::FromString(text, &address)) return 0;
  vexalo::SocketAddress again;
  if (!vexalo::SocketAddress::FromString(address.ToString(), &again)) abort();
  if (!(again == address)) abort();
  return 0;
}
