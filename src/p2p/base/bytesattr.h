#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string_view>

#include "p2p/base/stunattr.h"

namespace vexalo {

// Raw bytes, exactly as many as the length says.
class BytesAttr : public StunAttr {
 public:
  // Values up to this size (a check's USERNAME, a MESSAGE-INTEGRITY) live inside the attribute:
  // parsing a check does not allocate for them.
  static constexpr size_t kInlineSize = 40;

  explicit BytesAttr(uint16_t type, uint16_t length = 0) : StunAttr(type, length) {}

  bool ReadValue(WireBuffer* reader) override;
  void WriteValue(WireBuffer* writer) const override;

  std::string_view bytes() const { return std::string_view(Storage(), length()); }
  // False, leaving the value as it was, when the bytes do not fit a 16-bit length.
  bool CopyBytes(const char* data, size_t length);
  bool CopyBytes(std::string_view data) { return CopyBytes(data.data(), data.size()); }

 private:
  const char* Storage() const { return heap_ ? heap_.get() : inline_.data(); }
  // Room for `length` bytes; the attribute's length is set by the caller.
  char* Reserve(size_t length);

  std::array<char, kInlineSize> inline_;
  std::unique_ptr<char[]> heap_;
};

}  // namespace vexalo
