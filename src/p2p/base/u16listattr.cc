#include "p2p/base/u16listattr.h"

#include <limits>

#include "p2p/base/wirebuffer.h"

namespace vexalo {

bool U16ListAttr::ReadValue(WireBuffer* reader) {
  if (length() % 2 != 0) return false;
  values_.resize(length() / 2);
  for (uint16_t& value : values_) {
    if (!reader->ReadU16(&value)) return false;
  }
  return true;
}

void U16ListAttr::WriteValue(WireBuffer* writer) const {
  for (uint16_t value : values_) writer->WriteU16(value);
}

bool U16ListAttr::AddValue(uint16_t value) {
  if (length() > std::numeric_limits<uint16_t>::max() - 2) return false;
  values_.push_back(value);
  SetLength(static_cast<uint16_t>(length() + 2));
  return true;
}

}  // namespace vexalo
