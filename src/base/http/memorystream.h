#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/http/datastream.h"

namespace vexalo {

// A growable byte buffer with a read/write position. Reads take from the position and report
// SR_EOS at the end; writes go in at the position (overwriting, then appending) and move it.
class MemoryStream : public DataStream {
 public:
  // Error given when the buffer cannot grow (ENOMEM).
  static constexpr int kOutOfMemory = 12;

  MemoryStream() = default;
  // Starts with a copy of `data`; the position is at the start.
  explicit MemoryStream(std::string_view data);
  // `length` -1 means NUL-terminated text.
  MemoryStream(const char* data, ptrdiff_t length);
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;

  StreamState GetState() const override { return STREAM_OPEN; }
  StreamResult Read(void* buffer, size_t length, size_t* read, int* error) override;
  StreamResult Write(const void* data, size_t length, size_t* written, int* error) override;
  void Close() override {}
  bool GetSize(size_t* size) const override;
  bool Rewind() override;

  // Keeps the buffer from growing beyond `bytes` (default: no limit); a write that would go
  // further fails with kOutOfMemory. Receivers of network data use it to bound a body.
  void SetMaxSize(size_t bytes) { max_size_ = bytes; }

  const std::string& data() const { return buffer_; }
  size_t position() const { return position_; }
  void Clear();

 private:
  std::string buffer_;
  size_t position_ = 0;
  size_t max_size_ = static_cast<size_t>(-1);
};

}  // namespace vexalo
