#include "base/http/memorystream.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vexalo {

MemoryStream::MemoryStream(std::string_view data) : buffer_(data) {}

MemoryStream::MemoryStream(const char* data, ptrdiff_t length)
    : buffer_(data ? std::string(data, length < 0 ? std::strlen(data)
                                                  : static_cast<size_t>(length))
                   : std::string()) {}

StreamResult MemoryStream::Read(void* buffer, size_t length, size_t* read, int* error) {
  (void)error;
  size_t available = buffer_.size() - position_;
  if (available == 0) {
    if (read) *read = 0;
    return SR_EOS;
  }
  size_t count = std::min(length, available);
  std::memcpy(buffer, buffer_.data() + position_, count);
  position_ += count;
  if (read) *read = count;
  return SR_SUCCESS;
}

StreamResult MemoryStream::Write(const void* data, size_t length, size_t* written, int* error) {
  if (length > max_size_ || position_ > max_size_ - length) {
    if (error) *error = kOutOfMemory;
    return SR_ERROR;
  }
  size_t needed = position_ + length;
  if (needed > buffer_.size()) {
    if (needed > buffer_.capacity()) {
      // Grow geometrically so that many small writes stay linear in total.
      size_t capacity = std::max((needed | 0xFF) + 1, buffer_.capacity() * 2);
      capacity = std::min(std::max(capacity, needed), std::max(max_size_, needed));
      try {
        buffer_.reserve(capacity);
      } catch (const std::bad_alloc&) {
        if (error) *error = kOutOfMemory;
        return SR_ERROR;
      }
    }
    buffer_.resize(needed);
  }
  std::memcpy(buffer_.data() + position_, data, length);
  position_ += length;
  if (written) *written = length;
  return SR_SUCCESS;
}

bool MemoryStream::GetSize(size_t* size) const {
  if (size) *size = buffer_.size();
  return true;
}

bool MemoryStream::Rewind() {
  position_ = 0;
  return true;
}

void MemoryStream::Clear() {
  buffer_.clear();
  position_ = 0;
}

}  // namespace vexalo
