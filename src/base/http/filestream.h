#pragma once

#include <cstdio>
#include <string>

#include "base/http/datastream.h"

namespace vexalo {

// A DataStream over a C library file. Reads and writes block; the stream never reports
// SR_BLOCK.
class FileStream : public DataStream {
 public:
  FileStream() = default;
  ~FileStream() override;
  FileStream(const FileStream&) = delete;
  FileStream& operator=(const FileStream&) = delete;

  // Opens `path` with an fopen mode text ("rb", "wb", "ab", ...), closing any file open before.
  // On failure the stream stays closed and `error` (may be null) receives errno.
  bool Open(const std::string& path, const char* mode, int* error = nullptr);

  StreamState GetState() const override;
  // Returns what is there; SR_EOS only when nothing at all could be read at the end of the file.
  StreamResult Read(void* buffer, size_t length, size_t* read, int* error) override;
  StreamResult Write(const void* data, size_t length, size_t* written, int* error) override;
  void Close() override;
  bool GetSize(size_t* size) const override;
  bool Rewind() override { return SetPosition(0); }

  // Moves to `position` bytes from the start.
  bool SetPosition(size_t position);
  // Hands buffered writes to the system.
  bool Flush();

 private:
  FILE* file_ = nullptr;
};

}  // namespace vexalo
