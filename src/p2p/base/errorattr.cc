#include "p2p/base/errorattr.h"

#include <limits>

#include "base/runtime/logging.h"
#include "p2p/base/stunconstants.h"
#include "p2p/base/wirebuffer.h"

namespace vexalo {

ErrorAttr::ErrorAttr(uint16_t length) : StunAttr(STUN_ATTR_ERROR_CODE, length) {}

bool ErrorAttr::ReadValue(WireBuffer* reader) {
  uint32_t word;
  if (length() < kHeaderSize || !reader->ReadU32(&word)) return false;
  if (word > 2047) LOG(kError) << "error-code bits not zero";
  class_ = static_cast<uint8_t>((word >> 8) & 7);
  number_ = static_cast<uint8_t>(word & 0xFF);
  return reader->ReadString(&reason_, length() - kHeaderSize);
}

void ErrorAttr::WriteValue(WireBuffer* writer) const {
  writer->WriteU32((uint32_t{class_} << 8) | number_);
  writer->WriteBytes(reason_.data(), reason_.size());
}

void ErrorAttr::SetCode(int code) {
  class_ = static_cast<uint8_t>((code >> 8) & 7);
  number_ = static_cast<uint8_t>(code & 0xFF);
}

bool ErrorAttr::SetReason(const std::string& reason) {
  if (reason.size() > std::numeric_limits<uint16_t>::max() - kHeaderSize) return false;
  reason_ = reason;
  SetLength(static_cast<uint16_t>(kHeaderSize + reason.size()));
  return true;
}

}  // namespace vexalo
