#pragma once

#include <vector>

#include "p2p/base/stunattr.h"

namespace vexalo {

// A list of 16-bit values (the unknown attribute types of a 420 answer).
class U16ListAttr : public StunAttr {
 public:
  explicit U16ListAttr(uint16_t type, uint16_t length = 0) : StunAttr(type, length) {}

  bool ReadValue(WireBuffer* reader) override;
  void WriteValue(WireBuffer* writer) const override;

  const std::vector<uint16_t>& values() const { return values_; }
  // False when the list would no longer fit a 16-bit length.
  bool AddValue(uint16_t value);

 private:
  std::vector<uint16_t> values_;
};

}  // namespace vexalo
