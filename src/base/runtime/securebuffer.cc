#include "base/runtime/securebuffer.h"

#include <cstring>

#include "base/runtime/secrettext.h"

namespace vexalo {

SecureBuffer::~SecureBuffer() {
  if (data_ != nullptr) SecureZero(data_.get(), capacity_);
}

void SecureBuffer::Append(const void* data, size_t length) {
  if (length == 0) return;
  if (capacity_ - size_ < length) {
    size_t capacity = capacity_ == 0 ? kInitialCapacity : capacity_;
    while (capacity - size_ < length) capacity *= 2;
    auto grown = std::make_unique<unsigned char[]>(capacity);
    if (size_ > 0) {
      std::memcpy(grown.get(), data_.get(), size_);
    }
    if (data_ != nullptr) SecureZero(data_.get(), capacity_);
    data_ = std::move(grown);
    capacity_ = capacity;
  }
  std::memcpy(data_.get() + size_, data, length);
  size_ += length;
}

}  // namespace vexalo
