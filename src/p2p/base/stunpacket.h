#pragma once

#include <cstdint>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "p2p/base/addressattr.h"
#include "p2p/base/bytesattr.h"
#include "p2p/base/errorattr.h"
#include "p2p/base/stunconstants.h"
#include "p2p/base/transportprefsattr.h"
#include "p2p/base/u16listattr.h"
#include "p2p/base/u32attr.h"

namespace vexalo {

class WireBuffer;

// One STUN message in the classic layout: type, length, a 16-byte transaction id (no magic
// cookie), then unpadded attributes.
class StunPacket {
 public:
  static constexpr size_t kHeaderSize = 20;
  static constexpr size_t kTransactionIdSize = 16;

  StunPacket();
  StunPacket(const StunPacket&) = delete;
  StunPacket& operator=(const StunPacket&) = delete;

  uint16_t type() const { return type_; }
  uint16_t length() const { return length_; }
  std::string_view transaction_id() const {
    return std::string_view(transaction_id_.data(), transaction_id_.size());
  }
  const std::vector<std::unique_ptr<StunAttr>>& attributes() const { return attrs_; }

  void SetType(uint16_t type) { type_ = type; }
  // False for an id that is not exactly 16 bytes.
  bool SetTransactionId(std::string_view id);
  // Takes the attribute and keeps the length field in step. False (attribute dropped) when the
  // message would outgrow its 16-bit length.
  bool Append(std::unique_ptr<StunAttr> attr);

  // The first attribute of the type, or null; null too for a type outside the finder's kind.
  const AddressAttr* FindAddress(uint16_t type) const;
  const U32Attr* FindU32(uint16_t type) const;
  const BytesAttr* FindBytes(uint16_t type) const;
  const ErrorAttr* FindError() const;

  // Reads one message from the front of `reader`; bytes after it stay there. On failure the
  // content is unspecified and the packet is meant to be dropped.
  bool Parse(WireBuffer* reader);
  void Serialize(WireBuffer* writer) const;

  // The parser's factory: an attribute of the right kind, or null when the type or the
  // length is not acceptable.
  static std::unique_ptr<StunAttr> MakeAttr(uint16_t type, uint16_t length);
  // Builders; null for a type outside the kind's set.
  static std::unique_ptr<AddressAttr> CreateAddress(uint16_t type);
  static std::unique_ptr<U32Attr> CreateU32(uint16_t type);
  static std::unique_ptr<BytesAttr> CreateBytes(uint16_t type);
  static std::unique_ptr<ErrorAttr> CreateError();

  static bool IsAddressType(uint16_t type);
  static bool IsU32Type(uint16_t type);
  static bool IsBytesType(uint16_t type);

 private:
  const StunAttr* Find(uint16_t type) const;

  uint16_t type_ = 0;
  uint16_t length_ = 0;
  // Inline: the id is too long for a string's own buffer, and a parse should not allocate
  // for it.
  std::array<char, kTransactionIdSize> transaction_id_;
  std::vector<std::unique_ptr<StunAttr>> attrs_;
};

// Inline: the in-place check asks these for every attribute it walks.
inline bool StunPacket::IsAddressType(uint16_t type) {
  switch (type) {
    case STUN_ATTR_MAPPED_ADDRESS:
    case STUN_ATTR_RESPONSE_ADDRESS:
    case STUN_ATTR_SOURCE_ADDRESS:
    case STUN_ATTR_CHANGED_ADDRESS:
    case STUN_ATTR_REFLECTED_FROM:
    case STUN_ATTR_ALTERNATE_SERVER:
    case STUN_ATTR_DESTINATION_ADDRESS:
    case STUN_ATTR_SOURCE_ADDRESS2:
      return true;
    default:
      return false;
  }
}

inline bool StunPacket::IsU32Type(uint16_t type) {
  return type == STUN_ATTR_CHANGE_REQUEST || type == STUN_ATTR_LIFETIME ||
         type == STUN_ATTR_BANDWIDTH || type == STUN_ATTR_OPTIONS;
}

inline bool StunPacket::IsBytesType(uint16_t type) {
  return type == STUN_ATTR_USERNAME || type == STUN_ATTR_PASSWORD ||
         type == STUN_ATTR_MESSAGE_INTEGRITY || type == STUN_ATTR_MAGIC_COOKIE ||
         type == STUN_ATTR_DATA;
}

}  // namespace vexalo
