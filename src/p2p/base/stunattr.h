#pragma once

#include <cstdint>

namespace vexalo {

class WireBuffer;

// One attribute of a STUN message: a type, a value length and a value whose layout depends on
// the kind. Values are never padded on the wire.
class StunAttr {
 public:
  StunAttr(uint16_t type, uint16_t length) : type_(type), length_(length) {}
  virtual ~StunAttr() = default;
  StunAttr(const StunAttr&) = delete;
  StunAttr& operator=(const StunAttr&) = delete;

  // Reads exactly length() bytes of value; false when they are missing or do not fit the kind.
  virtual bool ReadValue(WireBuffer* reader) = 0;
  virtual void WriteValue(WireBuffer* writer) const = 0;

  uint16_t type() const { return type_; }
  uint16_t length() const { return length_; }

 protected:
  void SetLength(uint16_t length) { length_ = length; }

 private:
  uint16_t type_;
  uint16_t length_;
};

}  // namespace vexalo
