// Parses arbitrary bytes as a STUN message. A message that parses must serialise back to
// exactly the bytes it was read from, less any comprehension-optional attributes that were
// passed over.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "p2p/base/stunpacket.h"
#include "p2p/base/wirebuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vexalo;
  WireBuffer reader(reinterpret_cast<const char*>(data), size);
  StunPacket packet;
  if (!packet.Parse(&reader)) return 0;
  const size_t consumed = size - reader.Length();
  if (consumed < StunPacket::kHeaderSize || consumed > size) abort();

  size_t attribute_bytes = 0;
  for (const auto& attr : packet.attributes()) attribute_bytes += 4 + attr->length();
  if (attribute_bytes > packet.length()) abort();

  WireBuffer writer;
  packet.Serialize(&writer);
  if (attribute_bytes == packet.length()) {
    std::string original(reinterpret_cast<const char*>(data), consumed);
    if (std::string(writer.Data(), writer.Length()) != original) abort();
  }
  StunPacket again;
  WireBuffer reread(writer.Data(), writer.Length());
  // Written with the original length field: only parses back when nothing was skipped.
  if (attribute_bytes == packet.length() && !again.Parse(&reread)) abort();
  return 0;
}
