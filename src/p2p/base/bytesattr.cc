#include "p2p/base/bytesattr.h"

#include <limits>

#include "p2p/base/wirebuffer.h"

namespace vexalo {

bool BytesAttr::ReadValue(WireBuffer* reader) { return reader->ReadString(&bytes_, length()); }

void BytesAttr::WriteValue(WireBuffer* writer) const {
  writer->WriteBytes(bytes_.data(), bytes_.size());
}

bool BytesAttr::CopyBytes(const char* data, size_t length) {
  if (length > std::numeric_limits<uint16_t>::max()) return false;
  bytes_.assign(data, length);
  SetLength(static_cast<uint16_t>(length));
  return true;
}

}  // namespace vexalo
