#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/http/datastream.h"
#include "base/http/httpmessage.h"

namespace vexalo {

enum HttpMode { HM_NONE = 0, HM_CONNECT = 1, HM_RECV = 2, HM_SEND = 3 };

// What the owner of an HttpBase hears.
class HttpBaseNotify {
 public:
  virtual ~HttpBaseNotify() = default;
  // An operation ended (HERR_NONE: successfully). The engine is idle again and may be given
  // the next operation, or be destroyed, from inside this call.
  virtual void OnHttpComplete(HttpMode mode, HttpError error) = 0;
  // The stream closed while no operation was running.
  virtual void OnHttpClosed(HttpError error) = 0;
  // The headers of a received message are in. `data_size` is the body length the headers
  // announced (-1: unknown, read until the stream ends); set it to 0 for a message that has
  // no body whatever its headers say. Setting `discard` drops the body instead of storing it.
  virtual void OnHttpHeaderComplete(bool chunked, int64_t* data_size, bool* discard) {
    (void)chunked;
    (void)data_size;
    (void)discard;
  }
};

// The HTTP/1.x engine: sends a message (leader, headers, body streamed from its document)
// over a DataStream, and receives one (leader, headers, identity, chunked or close-delimited
// body into its document), through one fixed buffer. It knows nothing of connections,
// proxies or redirects.
//
// The headers of a sent message choose the body's framing: "Transfer-Encoding: chunked"
// frames the document in chunks (a Content-Length beside it is not sent), a Content-Length
// sends exactly that many bytes, and with neither the document runs until it ends. A
// document that would block is waited for (its SE_READ event), so bodies that are produced
// while they are sent need not be held in memory.
//
// Received messages are bounded: a line may not exceed the buffer, the header block (with
// trailers) neither kMaxHeaderBytes nor kMaxHeaderCount lines, and Content-Length and chunk
// sizes must be plain digits within kMaxBodySize. Anything else ends the receive with an
// error instead of waiting for more.
class HttpBase : public SlotHost {
 public:
  enum ParseState {
    ST_LEADER = 0,
    ST_HEADERS = 1,
    ST_CHUNKSIZE = 2,
    ST_CHUNKTERM = 3,
    ST_TRAILERS = 4,
    ST_DATA = 5,
    ST_COMPLETE = 6,
  };

  static constexpr size_t kBufferSize = 4096;
  // Header lines (trailers included) of one received message.
  static constexpr size_t kMaxHeaderCount = 100;
  // Bytes of the leader, header and trailer lines of one received message.
  static constexpr size_t kMaxHeaderBytes = 64 * 1024;
  // The largest body length accepted from Content-Length or a chunk size: far beyond any
  // real download, far below overflow.
  static constexpr int64_t kMaxBodySize = int64_t{1} << 52;

  HttpBase();
  ~HttpBase() override;
  HttpBase(const HttpBase&) = delete;
  HttpBase& operator=(const HttpBase&) = delete;

  void set_notify(HttpBaseNotify* notify) { notify_ = notify; }

  // Follows `stream` (not owned). Only when idle; false otherwise. An opening stream puts the
  // engine in HM_CONNECT until it opens.
  bool Attach(DataStream* stream);
  // Stops following the stream and returns it.
  DataStream* Detach();
  DataStream* stream() const { return stream_; }

  // Sends `message` (not owned; it must live until the completion). Only when idle.
  void Send(HttpMessage* message);
  // Receives into `message` (not owned; its document, if any, takes the body). Only when idle.
  // Bytes that followed the previous received message on the same stream come first.
  void Recv(HttpMessage* message);
  // Ends a running operation with `error` and closes the stream.
  void Abort(HttpError error);

  HttpMode mode() const { return mode_; }
  ParseState parse_state() const { return state_; }
  // Bytes that arrived during the current (or last) receive.
  uint64_t received_bytes() const { return received_bytes_; }
  // The last receive ended with bytes after the message: the peer does not speak one
  // message at a time, so the connection is not fit for another request.
  bool excess_data() const { return excess_data_; }
  // The current (or last) send has taken something from its document (or seen its end): a
  // body that cannot rewind cannot be sent again.
  bool body_started() const { return body_started_; }

  // Room before a chunk's data for its size line ("ff9" CR LF: the largest chunk that fits
  // the buffer with the CR LF after it).
  static constexpr size_t kChunkPrefix = 5;
  static constexpr size_t kMaxChunk = kBufferSize - kChunkPrefix - 2;

  // The error a stream's close code stands for.
  static HttpError ErrorFromCloseCode(int code);

 private:
  void OnStreamEvent(DataStream* stream, int events, int error);
  void OnDocumentEvent(DataStream* document, int events, int error);
  void OnClose(int error);
  void Complete(HttpError error);

  // Sending.
  void QueueHeaders();
  void FlushData();
  enum FillResult { FILL_READY, FILL_WAIT, FILL_FAILED };
  // Puts the next piece of the body (or its end) into the empty buffer.
  FillResult FillBody();

  // Receiving.
  void ReadData();
  // Works through the buffer; true when the message ended, with the result in `error`.
  bool ProcessBuffer(HttpError* error);
  bool ProcessLine(std::string_view line, HttpError* error);
  bool ProcessHeader(std::string_view line, HttpError* error);
  bool ProcessHeaderComplete(HttpError* error);
  HttpError ProcessData(const char* data, size_t length);

  DataStream* stream_ = nullptr;
  HttpMode mode_ = HM_NONE;
  HttpMessage* message_ = nullptr;
  HttpBaseNotify* notify_ = nullptr;
  char buffer_[kBufferSize];
  size_t fill_ = 0;

  // Sending.
  HttpHeaderMap::const_iterator header_;
  bool headers_done_ = false;
  // Body bytes still to send when Content-Length announced them; -1: until the document ends.
  int64_t send_remaining_ = -1;
  bool send_chunked_ = false;
  // Written out of buffer_ so far; the rest waits for the next SE_WRITE.
  size_t send_offset_ = 0;
  // The document has ended; the body is complete once the buffer is out (when chunked,
  // after the last chunk).
  bool document_ended_ = false;
  bool body_done_ = false;
  bool body_started_ = false;
  // Inside the document's Read: an event it emits from there is not a new turn.
  bool reading_document_ = false;

  // Receiving.
  ParseState state_ = ST_LEADER;
  bool chunked_ = false;
  bool discard_ = false;
  int64_t data_size_ = -1;
  int64_t content_length_ = -1;
  size_t header_bytes_ = 0;
  size_t header_count_ = 0;
  uint64_t received_bytes_ = 0;
  bool excess_data_ = false;
};

}  // namespace vexalo
