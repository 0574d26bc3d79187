#pragma once

#include <string>

#include "p2p/base/stunattr.h"

namespace vexalo {

// Raw bytes, exactly as many as the length says.
class BytesAttr : public StunAttr {
 public:
  explicit BytesAttr(uint16_t type, uint16_t length = 0) : StunAttr(type, length) {}

  bool ReadValue(WireBuffer* reader) override;
  void WriteValue(WireBuffer* writer) const override;

  const std::string& bytes() const { return bytes_; }
  // False, leaving the value as it was, when the bytes do not fit a 16-bit length.
  bool CopyBytes(const char* data, size_t length);
  bool CopyBytes(const std::string& data) { return CopyBytes(data.data(), data.size()); }

 private:
  std::string bytes_;
};

}  // namespace vexalo
