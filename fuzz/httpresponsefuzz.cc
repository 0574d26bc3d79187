// Feeds arbitrary bytes, in pieces whose size the first byte picks, to the HTTP engine as a
// response. It must end at most once, never store more body than it was given, and never
// wait for more once the input has ended.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/http/httpbase.h"
#include "base/http/httpresponse.h"
#include "base/http/memorystream.h"

namespace {

using namespace vexalo;

class InputStream : public DataStream {
 public:
  InputStream(const uint8_t* data, size_t size, size_t piece)
      : data_(data), size_(size), piece_(piece) {}
  StreamState GetState() const override { return state_; }
  StreamResult Read(void* buffer, size_t length, size_t* read, int*) override {
    if (offset_ == size_) return SR_EOS;
    if (served_) return SR_BLOCK;
    size_t count = std::min({length, piece_, size_ - offset_});
    std::memcpy(buffer, data_ + offset_, count);
    offset_ += count;
    if (read) *read = count;
    served_ = true;
    return SR_SUCCESS;
  }
  StreamResult Write(const void*, size_t length, size_t* written, int*) override {
    if (written) *written = length;
    return SR_SUCCESS;
  }
  void Close() override { state_ = STREAM_CLOSED; }
  bool Next() {
    served_ = false;
    return state_ == STREAM_OPEN;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t piece_;
  size_t offset_ = 0;
  bool served_ = false;
  StreamState state_ = STREAM_OPEN;
};

struct Counter : public HttpBaseNotify {
  void OnHttpComplete(HttpMode, HttpError) override { ++completions; }
  void OnHttpClosed(HttpError) override {}
  int completions = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = 1 + data[0] * 17;
  InputStream stream(data + 1, size - 1, piece);
  HttpBase engine;
  Counter counter;
  engine.set_notify(&counter);
  engine.Attach(&stream);
  HttpResponse response;
  auto* body = new MemoryStream();
  response.SetDocument(std::unique_ptr<DataStream>(body));
  engine.Recv(&response);
  // Every read event takes one piece; the end of the input closes the stream.
  for (size_t i = 0; i <= size && counter.completions == 0 && stream.Next(); ++i) {
    stream.StreamEvent.Emit(&stream, SE_READ, 0);
  }
  if (counter.completions != 1) abort();
  if (body->data().size() > size) abort();
  if (response.headers().size() > HttpBase::kMaxHeaderCount) abort();
  return 0;
}
