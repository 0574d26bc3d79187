#pragma once

#include <memory>

#include "p2p/base/addressattr.h"

namespace vexalo {

// A flags word (bit 2: preallocate, bits 0-1: transport type); with preallocate set, an
// address follows.
class TransportPrefsAttr : public StunAttr {
 public:
  static constexpr uint32_t kPreallocate = 4;
  static constexpr uint32_t kTypeMask = 3;
  explicit TransportPrefsAttr(uint16_t length = 4);

  bool ReadValue(WireBuffer* reader) override;
  void WriteValue(WireBuffer* writer) const override;

  bool preallocate() const { return (flags_ & kPreallocate) != 0; }
  uint32_t transport_type() const { return flags_ & kTypeMask; }
  // The preallocated address; null without preallocate.
  const AddressAttr* address() const { return address_.get(); }
  void SetTransportType(uint32_t type) { flags_ = (flags_ & ~kTypeMask) | (type & kTypeMask); }
  // Sets preallocate with the address, or clears it with a null one.
  void SetPreallocateAddress(std::unique_ptr<AddressAttr> address);

 private:
  uint32_t flags_ = 0;
  std::unique_ptr<AddressAttr> address_;
};

}  // namespace vexalo
