#include "p2p/base/transportprefsattr.h"

#include "base/runtime/logging.h"
#include "p2p/base/stunconstants.h"
#include "p2p/base/wirebuffer.h"

namespace vexalo {

namespace {
constexpr uint16_t kPlainSize = 4;
constexpr uint16_t kWithAddressSize = kPlainSize + AddressAttr::kSize;
}  // namespace

TransportPrefsAttr::TransportPrefsAttr(uint16_t length)
    : StunAttr(STUN_ATTR_TRANSPORT_PREFERENCES, length) {}

bool TransportPrefsAttr::ReadValue(WireBuffer* reader) {
  if (!reader->ReadU32(&flags_)) return false;
  if (flags_ > 7) LOG(kError) << "transport-preferences bits not zero";
  if (preallocate() && transport_type() == 3) {
    LOG(kError) << "transport-preferences imcompatible P and Typ";
  }
  if (!preallocate()) {
    address_.reset();
    return length() == kPlainSize;
  }
  if (length() != kWithAddressSize) return false;
  address_ = std::make_unique<AddressAttr>(STUN_ATTR_SOURCE_ADDRESS);
  return address_->ReadValue(reader);
}

void TransportPrefsAttr::WriteValue(WireBuffer* writer) const {
  writer->WriteU32(flags_);
  if (preallocate()) address_->WriteValue(writer);
}

void TransportPrefsAttr::SetPreallocateAddress(std::unique_ptr<AddressAttr> address) {
  address_ = std::move(address);
  if (address_) {
    flags_ |= kPreallocate;
    SetLength(kWithAddressSize);
  } else {
    flags_ &= ~kPreallocate;
    SetLength(kPlainSize);
  }
}

}  // namespace vexalo
