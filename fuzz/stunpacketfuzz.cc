// Parses arbitrary bytes as a STUN message. Whatever parses must serialise to bytes that parse
// again and serialise to the very same bytes (reading may normalise a value, such as stray
// bits of an error code, but only once), and its length field must cover its attributes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "p2p/base/stunpacket.h"
#include "p2p/base/wirebuffer.h"

namespace {

std::string Serialize(const vexalo::StunPacket& packet) {
  vexalo::WireBuffer writer;
  packet.Serialize(&writer);
  return std::string(writer.Data(), writer.Length());
}

}  // namespace

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
  // Skipped comprehension-optional attributes are the only difference allowed.
  if (attribute_bytes != packet.length()) return 0;

  const std::string first = Serialize(packet);
  if (first.size() != consumed) abort();
  WireBuffer again(first.data(), first.size());
  StunPacket reparsed;
  if (!reparsed.Parse(&again) || again.Length() != 0) abort();
  if (Serialize(reparsed) != first) abort();
  return 0;
}
