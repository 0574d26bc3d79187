#include "p2p/base/stunmessageview.h"

#include "p2p/base/stunconstants.h"
#include "p2p/base/stunpacket.h"

namespace vexalo {
namespace {

constexpr size_t kHeaderSize = 20;
constexpr size_t kIdOffset = 4;
constexpr size_t kIdSize = 16;
constexpr size_t kAttrHeaderSize = 4;

uint16_t ReadU16At(const char* p) {
  return static_cast<uint16_t>((static_cast<uint8_t>(p[0]) << 8) | static_cast<uint8_t>(p[1]));
}

uint32_t ReadU32At(const char* p) {
  return (uint32_t{ReadU16At(p)} << 16) | ReadU16At(p + 2);
}

}  // namespace

StunMessageView::AttrVerdict StunMessageView::Judge(uint16_t type, const char* value,
                                                    uint16_t length) {
  if (StunPacket::IsAddressType(type)) return length == 8 ? kKeep : kReject;
  if (StunPacket::IsU32Type(type)) return length == 4 ? kKeep : kReject;
  switch (type) {
    case STUN_ATTR_USERNAME:
    case STUN_ATTR_PASSWORD:
    case STUN_ATTR_MAGIC_COOKIE:
      return length % 4 == 0 ? kKeep : kReject;
    case STUN_ATTR_MESSAGE_INTEGRITY:
      return length == 20 ? kKeep : kReject;
    case STUN_ATTR_DATA:
      return kKeep;
    case STUN_ATTR_ERROR_CODE:
      return length >= 4 ? kKeep : kReject;
    case STUN_ATTR_UNKNOWN_ATTRIBUTES:
      return length % 2 == 0 ? kKeep : kReject;
    case STUN_ATTR_TRANSPORT_PREFERENCES: {
      // The P bit says whether an address follows the flags word.
      if (length != 4 && length != 12) return kReject;
      const bool preallocate = (ReadU32At(value) & 4) != 0;
      return preallocate == (length == 12) ? kKeep : kReject;
    }
    default:
      // Real servers add attributes of their own (a software name); only those marked
      // comprehension-optional may be passed over.
      return type >= STUN_ATTR_COMPREHENSION_OPTIONAL ? kSkip : kReject;
  }
}

size_t StunMessageView::Validate(const char* data, size_t size) {
  ran_past_length_ = false;
  attrs_ = nullptr;
  attrs_size_ = 0;
  if (size < kHeaderSize) return 0;
  const size_t end = kHeaderSize + ReadU16At(data + 2);
  if (end > size) return 0;
  size_t pos = kHeaderSize;
  while (pos < end) {
    if (size - pos < kAttrHeaderSize) return 0;
    const uint16_t attr_type = ReadU16At(data + pos);
    const uint16_t attr_length = ReadU16At(data + pos + 2);
    pos += kAttrHeaderSize;
    if (size - pos < attr_length) return 0;
    if (Judge(attr_type, data + pos, attr_length) == kReject) return 0;
    pos += attr_length;
  }
  if (pos != end) {
    ran_past_length_ = true;
    expected_rest_ = size - end;
    actual_rest_ = size - pos;
    return 0;
  }
  type_ = ReadU16At(data);
  transaction_id_ = std::string_view(data + kIdOffset, kIdSize);
  attrs_ = data + kHeaderSize;
  attrs_size_ = end - kHeaderSize;
  return end;
}

size_t StunMessageView::NextAttr(size_t offset, uint16_t* type, std::string_view* value) const {
  if (offset >= attrs_size_) return 0;
  const char* p = attrs_ + offset;
  *type = ReadU16At(p);
  const uint16_t length = ReadU16At(p + 2);
  *value = std::string_view(p + kAttrHeaderSize, length);
  return offset + kAttrHeaderSize + length;
}

bool StunMessageView::Find(uint16_t type, std::string_view* value) const {
  uint16_t attr_type = 0;
  for (size_t offset = 0; (offset = NextAttr(offset, &attr_type, value)) != 0;) {
    if (attr_type == type) return true;
  }
  return false;
}

bool StunMessageView::FindIpv4Address(uint16_t type, SocketAddress* address) const {
  std::string_view value;
  if (!StunPacket::IsAddressType(type) || !Find(type, &value)) return false;
  if (static_cast<uint8_t>(value[1]) != STUN_ADDRESS_IPV4) return false;
  *address = SocketAddress(ReadU32At(value.data() + 4), ReadU16At(value.data() + 2));
  return true;
}

}  // namespace vexalo
