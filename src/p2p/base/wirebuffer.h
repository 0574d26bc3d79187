#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexalo {

// Bytes in network order. Built over received bytes it is a reader that does not copy them
// (they must outlive it); built empty it is a writer that grows its own storage. Every read
// fails, consuming nothing, when fewer bytes remain than asked for.
class WireBuffer {
 public:
  WireBuffer() = default;
  WireBuffer(const char* data, size_t size) : view_(data), view_size_(size) {}
  WireBuffer(const WireBuffer&) = delete;
  WireBuffer& operator=(const WireBuffer&) = delete;

  bool ReadU8(uint8_t* value);
  bool ReadU16(uint16_t* value);
  bool ReadU32(uint32_t* value);
  bool ReadBytes(char* out, size_t count);
  bool ReadString(std::string* out, size_t count);
  bool Skip(size_t count);

  // Appending turns a reader into a writer over a copy of its unread bytes.
  void WriteU8(uint8_t value);
  void WriteU16(uint16_t value);
  void WriteU32(uint32_t value);
  void WriteBytes(const char* data, size_t count);

  // The unread bytes.
  const char* Data() const { return Begin() + position_; }
  size_t Length() const { return Size() - position_; }

 private:
  const char* Begin() const { return view_ ? view_ : owned_.data(); }
  size_t Size() const { return view_ ? view_size_ : owned_.size(); }
  void MakeOwned();

  const char* view_ = nullptr;
  size_t view_size_ = 0;
  std::string owned_;
  size_t position_ = 0;
};

}  // namespace vexalo
