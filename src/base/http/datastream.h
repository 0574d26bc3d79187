#pragma once

#include <cstddef>
#include <string>

#include "base/runtime/signal.h"

namespace vexalo {

enum StreamResult { SR_ERROR = 0, SR_SUCCESS = 1, SR_BLOCK = 2, SR_EOS = 3 };
enum StreamState { STREAM_CLOSED = 0, STREAM_OPENING = 1, STREAM_OPEN = 2 };
enum StreamEventBits { SE_OPEN = 1, SE_READ = 2, SE_WRITE = 4, SE_CLOSE = 8 };

// A small non-blocking byte stream with an event signal. Files, memory buffers and sockets
// present themselves through it to the logger and the HTTP engine.
class DataStream : public SlotHost {
 public:
  ~DataStream() override = default;

  virtual StreamState GetState() const = 0;
  // `read`/`written` and `error` may be null.
  virtual StreamResult Read(void* buffer, size_t length, size_t* read, int* error) = 0;
  virtual StreamResult Write(const void* data, size_t length, size_t* written, int* error) = 0;
  virtual void Close() = 0;
  virtual bool GetSize(size_t* size) const {
    (void)size;
    return false;
  }
  virtual bool Rewind() { return false; }

  // Writes until everything is written or a result other than SR_SUCCESS comes back.
  StreamResult WriteAll(const void* data, size_t length, size_t* written, int* error);
  // Reads byte by byte up to a line feed, which is dropped. SR_SUCCESS if anything was read,
  // otherwise the last result.
  StreamResult ReadLine(std::string* line);

  Signal<DataStream*, int, int> StreamEvent;  // stream, event bits, error
};

}  // namespace vexalo
