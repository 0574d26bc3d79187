#pragma once

#include "p2p/base/stunattr.h"

namespace vexalo {

class U32Attr : public StunAttr {
 public:
  static constexpr uint16_t kSize = 4;
  explicit U32Attr(uint16_t type, uint32_t value = 0) : StunAttr(type, kSize), value_(value) {}

  bool ReadValue(WireBuffer* reader) override;
  void WriteValue(WireBuffer* writer) const override;

  uint32_t value() const { return value_; }
  void SetValue(uint32_t value) { value_ = value; }

 private:
  uint32_t value_;
};

}  // namespace vexalo
