#include "p2p/base/wirebuffer.h"

#include <cstring>

namespace vexalo {

bool WireBuffer::ReadU8(uint8_t* value) {
  if (Length() < 1) return false;
  *value = static_cast<uint8_t>(Data()[0]);
  position_ += 1;
  return true;
}

bool WireBuffer::ReadU16(uint16_t* value) {
  if (Length() < 2) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(Data());
  *value = static_cast<uint16_t>((p[0] << 8) | p[1]);
  position_ += 2;
  return true;
}

bool WireBuffer::ReadU32(uint32_t* value) {
  if (Length() < 4) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(Data());
  *value = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  position_ += 4;
  return true;
}

bool WireBuffer::ReadBytes(char* out, size_t count) {
  if (Length() < count) return false;
  if (count > 0) std::memcpy(out, Data(), count);
  position_ += count;
  return true;
}

bool WireBuffer::ReadString(std::string* out, size_t count) {
  if (Length() < count) return false;
  out->assign(Data(), count);
  position_ += count;
  return true;
}

bool WireBuffer::Skip(size_t count) {
  if (Length() < count) return false;
  position_ += count;
  return true;
}

void WireBuffer::MakeOwned() {
  if (!view_) return;
  owned_.assign(Data(), Length());
  view_ = nullptr;
  view_size_ = 0;
  position_ = 0;
}

void WireBuffer::WriteU8(uint8_t value) {
  MakeOwned();
  owned_.push_back(static_cast<char>(value));
}

void WireBuffer::WriteU16(uint16_t value) {
  MakeOwned();
  const char bytes[2] = {static_cast<char>(value >> 8), static_cast<char>(value)};
  owned_.append(bytes, 2);
}

void WireBuffer::WriteU32(uint32_t value) {
  MakeOwned();
  const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                         static_cast<char>(value >> 8), static_cast<char>(value)};
  owned_.append(bytes, 4);
}

void WireBuffer::WriteBytes(const char* data, size_t count) {
  MakeOwned();
  owned_.append(data, count);
}

}  // namespace vexalo
