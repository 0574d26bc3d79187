#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace vexalo {

// A growable byte buffer for secrets: every block it gives up (on growth and on destruction)
// is overwritten with zeros first, so no copy of a password is left behind in freed memory.
class SecureBuffer {
 public:
  SecureBuffer() = default;
  ~SecureBuffer();
  SecureBuffer(const SecureBuffer&) = delete;
  SecureBuffer& operator=(const SecureBuffer&) = delete;

  void Append(const void* data, size_t length);
  void Append(std::string_view text) { Append(text.data(), text.size()); }
  void AppendByte(unsigned char byte) { Append(&byte, 1); }

  const unsigned char* data() const { return data_.get(); }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }

 private:
  static constexpr size_t kInitialCapacity = 32;

  std::unique_ptr<unsigned char[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace vexalo
