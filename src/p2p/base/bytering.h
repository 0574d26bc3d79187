#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexalo {

// A fixed-size byte buffer addressed by offsets from its read head, which wraps around its end.
// The pseudo-TCP send and receive buffers use it so that taking bytes off the front never moves
// the rest, and data received ahead of a gap can be stored at its final place.
class ByteRing {
 public:
  explicit ByteRing(size_t capacity);

  size_t capacity() const { return bytes_.size(); }
  // offset + size must not exceed the capacity.
  void WriteAt(size_t offset, const char* data, size_t size);
  void ReadAt(size_t offset, char* out, size_t size) const;
  // Moves the read head forward by `size` bytes.
  void Consume(size_t size);

 private:
  std::vector<char> bytes_;
  size_t head_ = 0;
};

}  // namespace vexalo
