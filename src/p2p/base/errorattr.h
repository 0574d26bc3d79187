#pragma once

#include <string>

#include "p2p/base/stunattr.h"

namespace vexalo {

// A code word and a reason text. The code travels as a plain number in the low 11 bits
// (class = bits 8-10, number = bits 0-7; code = class x 256 + number), which is how the
// system's peers encode it: 400 is the word 0x190.
class ErrorAttr : public StunAttr {
 public:
  static constexpr uint16_t kHeaderSize = 4;
  // The parser gives the length it read; a built attribute grows with SetReason.
  explicit ErrorAttr(uint16_t length = kHeaderSize);

  bool ReadValue(WireBuffer* reader) override;
  void WriteValue(WireBuffer* writer) const override;

  int error_class() const { return class_; }
  int number() const { return number_; }
  int code() const { return class_ * 256 + number_; }
  const std::string& reason() const { return reason_; }
  void SetCode(int code);
  // False, leaving the reason as it was, when it does not fit a 16-bit length.
  bool SetReason(const std::string& reason);

 private:
  uint8_t class_ = 0;
  uint8_t number_ = 0;
  std::string reason_;
};

}  // namespace vexalo
