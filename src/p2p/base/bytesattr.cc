#include "p2p/base/bytesattr.h"

#include <cstring>
#include <limits>

#include "p2p/base/wirebuffer.h"

namespace vexalo {

char* BytesAttr::Reserve(size_t length) {
  if (length <= kInlineSize) {
    heap_.reset();
    return inline_.data();
  }
  heap_ = std::make_unique<char[]>(length);
  return heap_.get();
}

bool BytesAttr::ReadValue(WireBuffer* reader) {
  if (reader->Length() < length()) return false;
  return reader->ReadBytes(Reserve(length()), length());
}

void BytesAttr::WriteValue(WireBuffer* writer) const { writer->WriteBytes(Storage(), length()); }

bool BytesAttr::CopyBytes(const char* data, size_t length) {
  if (length > std::numeric_limits<uint16_t>::max()) return false;
  // Copy before letting go of the old storage: the bytes may come from it.
  if (length <= kInlineSize) {
    if (length > 0) std::memmove(inline_.data(), data, length);
    heap_.reset();
  } else {
    auto fresh = std::make_unique<char[]>(length);
    std::memcpy(fresh.get(), data, length);
    heap_ = std::move(fresh);
  }
  SetLength(static_cast<uint16_t>(length));
  return true;
}

}  // namespace vexalo
