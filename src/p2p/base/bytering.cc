#include "p2p/base/bytering.h"

#include <algorithm>
#include <cstring>

namespace vexalo {

ByteRing::ByteRing(size_t capacity) : bytes_(capacity) {}

void ByteRing::WriteAt(size_t offset, const char* data, size_t size) {
  size_t start = (head_ + offset) % bytes_.size();
  size_t first = std::min(size, bytes_.size() - start);
  std::memcpy(bytes_.data() + start, data, first);
  std::memcpy(bytes_.data(), data + first, size - first);
}

void ByteRing::ReadAt(size_t offset, char* out, size_t size) const {
  size_t start = (head_ + offset) % bytes_.size();
  size_t first = std::min(size, bytes_.size() - start);
  std::memcpy(out, bytes_.data() + start, first);
  std::memcpy(out + first, bytes_.data(), size - first);
}

void ByteRing::Consume(size_t size) { head_ = (head_ + size) % bytes_.size(); }

}  // namespace vexalo
