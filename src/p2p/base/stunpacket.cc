#include "p2p/base/stunpacket.h"

#include <limits>

#include "base/runtime/logging.h"
#include "p2p/base/stunmessageview.h"
#include "p2p/base/wirebuffer.h"

namespace vexalo {

StunPacket::StunPacket() { transaction_id_.fill('0'); }

bool StunPacket::SetTransactionId(std::string_view id) {
  if (id.size() != kTransactionIdSize) return false;
  id.copy(transaction_id_.data(), kTransactionIdSize);
  return true;
}

bool StunPacket::Append(std::unique_ptr<StunAttr> attr) {
  size_t grown = size_t{length_} + 4 + attr->length();
  if (grown > std::numeric_limits<uint16_t>::max()) return false;
  length_ = static_cast<uint16_t>(grown);
  attrs_.push_back(std::move(attr));
  return true;
}

const StunAttr* StunPacket::Find(uint16_t type) const {
  for (const auto& attr : attrs_) {
    if (attr->type() == type) return attr.get();
  }
  return nullptr;
}

const AddressAttr* StunPacket::FindAddress(uint16_t type) const {
  return IsAddressType(type) ? static_cast<const AddressAttr*>(Find(type)) : nullptr;
}

const U32Attr* StunPacket::FindU32(uint16_t type) const {
  return IsU32Type(type) ? static_cast<const U32Attr*>(Find(type)) : nullptr;
}

const BytesAttr* StunPacket::FindBytes(uint16_t type) const {
  return IsBytesType(type) ? static_cast<const BytesAttr*>(Find(type)) : nullptr;
}

const ErrorAttr* StunPacket::FindError() const {
  return static_cast<const ErrorAttr*>(Find(STUN_ATTR_ERROR_CODE));
}

std::unique_ptr<StunAttr> StunPacket::MakeAttr(uint16_t type, uint16_t length) {
  if (IsAddressType(type)) {
    if (length != AddressAttr::kSize) return nullptr;
    return std::make_unique<AddressAttr>(type);
  }
  if (IsU32Type(type)) {
    if (length != U32Attr::kSize) return nullptr;
    return std::make_unique<U32Attr>(type);
  }
  switch (type) {
    case STUN_ATTR_USERNAME:
    case STUN_ATTR_PASSWORD:
    case STUN_ATTR_MAGIC_COOKIE:
      if (length % 4 != 0) return nullptr;
      return std::make_unique<BytesAttr>(type, length);
    case STUN_ATTR_MESSAGE_INTEGRITY:
      if (length != 20) return nullptr;
      return std::make_unique<BytesAttr>(type, length);
    case STUN_ATTR_DATA:
      return std::make_unique<BytesAttr>(type, length);
    case STUN_ATTR_ERROR_CODE:
      if (length < ErrorAttr::kHeaderSize) return nullptr;
      return std::make_unique<ErrorAttr>(length);
    case STUN_ATTR_UNKNOWN_ATTRIBUTES:
      if (length % 2 != 0) return nullptr;
      return std::make_unique<U16ListAttr>(type, length);
    case STUN_ATTR_TRANSPORT_PREFERENCES:
      if (length != 4 && length != 12) return nullptr;
      return std::make_unique<TransportPrefsAttr>(length);
    default:
      return nullptr;
  }
}

std::unique_ptr<AddressAttr> StunPacket::CreateAddress(uint16_t type) {
  return IsAddressType(type) ? std::make_unique<AddressAttr>(type) : nullptr;
}

std::unique_ptr<U32Attr> StunPacket::CreateU32(uint16_t type) {
  return IsU32Type(type) ? std::make_unique<U32Attr>(type) : nullptr;
}

std::unique_ptr<BytesAttr> StunPacket::CreateBytes(uint16_t type) {
  return IsBytesType(type) ? std::make_unique<BytesAttr>(type) : nullptr;
}

std::unique_ptr<ErrorAttr> StunPacket::CreateError() { return std::make_unique<ErrorAttr>(); }

bool StunPacket::Parse(WireBuffer* reader) {
  StunMessageView view;
  const size_t size = view.Validate(reader->Data(), reader->Length());
  if (size == 0) {
    if (view.ran_past_length()) {
      LOG(kError) << "wrong message length" << " (" << view.expected_rest()
                  << " != " << view.actual_rest() << ")";
    }
    return false;
  }
  type_ = view.type();
  length_ = static_cast<uint16_t>(size - kHeaderSize);
  SetTransactionId(view.transaction_id());

  attrs_.clear();
  // A check carries two or three attributes: one allocation for the list.
  attrs_.reserve(4);
  uint16_t attr_type = 0;
  std::string_view value;
  for (size_t offset = 0; (offset = view.NextAttr(offset, &attr_type, &value)) != 0;) {
    if (StunMessageView::Judge(attr_type, value.data(), static_cast<uint16_t>(value.size())) ==
        StunMessageView::kSkip) {
      continue;
    }
    std::unique_ptr<StunAttr> attr = MakeAttr(attr_type, static_cast<uint16_t>(value.size()));
    WireBuffer value_reader(value.data(), value.size());
    if (!attr || !attr->ReadValue(&value_reader)) return false;
    attrs_.push_back(std::move(attr));
  }
  return reader->Skip(size);
}

void StunPacket::Serialize(WireBuffer* writer) const {
  writer->WriteU16(type_);
  writer->WriteU16(length_);
  writer->WriteBytes(transaction_id_.data(), transaction_id_.size());
  for (const auto& attr : attrs_) {
    writer->WriteU16(attr->type());
    writer->WriteU16(attr->length());
    attr->WriteValue(writer);
  }
}

}  // namespace vexalo
