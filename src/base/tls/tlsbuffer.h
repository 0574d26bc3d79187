#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

namespace vexalo {

// A byte FIFO for the TLS adapter's plaintext and ciphertext: appends at the back, consumes
// from the front without moving the rest, and compacts only when the room is needed.
class TlsBuffer {
 public:
  size_t size() const { return end_ - begin_; }
  bool empty() const { return end_ == begin_; }
  const char* data() const { return buffer_.get() + begin_; }

  // Room for at least `length` bytes at the back; CommitAppend says how many were written.
  char* PrepareAppend(size_t length) {
    if (capacity_ - end_ < length) MakeRoom(length);
    return buffer_.get() + end_;
  }
  void CommitAppend(size_t length) { end_ += length; }

  void Append(const void* data, size_t length) {
    if (length == 0) return;
    std::memcpy(PrepareAppend(length), data, length);
    end_ += length;
  }

  void Consume(size_t length) {
    begin_ += length < size() ? length : size();
    if (begin_ == end_) begin_ = end_ = 0;
  }

  // Empties the buffer and gives its memory back.
  void Release() {
    buffer_.reset();
    capacity_ = begin_ = end_ = 0;
  }

 private:
  void MakeRoom(size_t length) {
    const size_t used = size();
    // Compacting when the consumed front is at least as large as what is left moves each
    // byte at most once on average; otherwise growing is cheaper.
    if (used + length <= capacity_ && begin_ >= used) {
      std::memmove(buffer_.get(), data(), used);
    } else {
      size_t capacity = capacity_ ? capacity_ : 4096;
      while (capacity < used + length) capacity *= 2;
      std::unique_ptr<char[]> bigger(new char[capacity]);
      if (used) std::memcpy(bigger.get(), data(), used);
      buffer_ = std::move(bigger);
      capacity_ = capacity;
    }
    begin_ = 0;
    end_ = used;
  }

  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;
};

}  // namespace vexalo
