#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/net/socketaddress.h"

namespace vexalo {

// A received STUN message checked in place: the same acceptance rules as a full parse, but
// nothing is copied or allocated, so junk and checks with a wrong name cost a walk over their
// bytes only. The bytes must outlive the view.
class StunMessageView {
 public:
  // What the parser does with one attribute.
  enum AttrVerdict { kKeep, kSkip, kReject };
  static AttrVerdict Judge(uint16_t type, const char* value, uint16_t length);

  // Checks the message at the front of `data`. Its size (header included), or 0 when it is not
  // an acceptable message; bytes after it are not looked at.
  size_t Validate(const char* data, size_t size);

  uint16_t type() const { return type_; }
  std::string_view transaction_id() const { return transaction_id_; }

  // Walks the attributes of a validated message: start at offset 0; each call gives the next
  // attribute and returns the offset to continue from, or 0 after the last one.
  size_t NextAttr(size_t offset, uint16_t* type, std::string_view* value) const;
  // The value of the first attribute of the type; false when there is none.
  bool Find(uint16_t type, std::string_view* value) const;
  // The first address attribute of the type, when it holds an IPv4 address.
  bool FindIpv4Address(uint16_t type, SocketAddress* address) const;

  // After a refusal: whether an attribute ran past the declared length, and the bytes that
  // should have followed the message against those that did.
  bool ran_past_length() const { return ran_past_length_; }
  size_t expected_rest() const { return expected_rest_; }
  size_t actual_rest() const { return actual_rest_; }

 private:
  const char* attrs_ = nullptr;
  size_t attrs_size_ = 0;
  uint16_t type_ = 0;
  std::string_view transaction_id_;
  bool ran_past_length_ = false;
  size_t expected_rest_ = 0;
  size_t actual_rest_ = 0;
};

}  // namespace vexalo
