#include "base/http/httpbase.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/runtime/logging.h"
#include "base/net/socketerrors.h"
#include "base/tls/tlserrors.h"
#include "text/asciitext.h"

namespace vexalo {
namespace {

// Header lines end in CR LF; white space before the line end is no part of the value.
constexpr std::string_view kLineSpace = " \t\r";

// Plain decimal digits only: no sign, no spaces, no "0x". At most kMaxBodySize.
bool ParseBodySize(std::string_view text, int64_t* value) {
  uint64_t parsed = 0;
  if (!ParseDecimal(text, HttpBase::kMaxBodySize, &parsed)) return false;
  *value = static_cast<int64_t>(parsed);
  return true;
}

// Hexadecimal digits only, as chunk sizes are written. At most kMaxBodySize.
bool ParseHex(std::string_view text, int64_t* value) {
  uint64_t parsed = 0;
  if (!ParseHexadecimal(text, HttpBase::kMaxBodySize, &parsed)) return false;
  *value = static_cast<int64_t>(parsed);
  return true;
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

HttpBase::HttpBase() = default;

HttpBase::~HttpBase() { Detach(); }

bool HttpBase::Attach(DataStream* stream) {
  if (mode_ != HM_NONE || !stream) return false;
  Detach();
  stream_ = stream;
  fill_ = 0;
  stream_->StreamEvent.Connect(this, &HttpBase::OnStreamEvent);
  mode_ = stream_->GetState() == STREAM_OPENING ? HM_CONNECT : HM_NONE;
  return true;
}

DataStream* HttpBase::Detach() {
  DataStream* stream = stream_;
  if (stream) stream->StreamEvent.Disconnect(this);
  stream_ = nullptr;
  if (mode_ == HM_CONNECT) mode_ = HM_NONE;
  return stream;
}

HttpError HttpBase::ErrorFromCloseCode(int code) {
  switch (code) {
    case 0:
      return HERR_DISCONNECTED;
    case kSocketAccessDenied:  // the proxy refused our credentials
      return HERR_AUTH;
    case kSecCertExpired:
      return HERR_CERT_EXPIRED;
    case kSecUntrustedRoot:
    case kSecWrongPrincipal:
      return HERR_CERT;
    default:
      return HERR_SOCKET;
  }
}

void HttpBase::Send(HttpMessage* message) {
  if (mode_ != HM_NONE || !message) return;
  message_ = message;
  mode_ = HM_SEND;
  if (!stream_ || stream_->GetState() != STREAM_OPEN) {
    Complete(HERR_DISCONNECTED);
    return;
  }
  std::string leader = message->FormatLeader();
  if (HasLineBreak(leader) || leader.size() + 2 > kBufferSize) {
    LOG(kError) << "HttpBase::Send - unusable request line";
    Complete(HERR_PROTOCOL);
    return;
  }
  send_remaining_ = -1;
  send_chunked_ = false;
  std::string coding;
  if (message->HasHeader("Transfer-Encoding", &coding)) {
    if (EqualsNoCase(coding, "chunked")) {
      send_chunked_ = true;
    } else if (!EqualsNoCase(coding, "identity")) {
      // Other codings would have to be applied here; sending them unapplied corrupts the body.
      LOG(kError) << "HttpBase::Send - unsupported Transfer-Encoding: " << PrintableText(coding, 64);
      Complete(HERR_PROTOCOL);
      return;
    }
  }
  std::memcpy(buffer_, leader.data(), leader.size());
  std::memcpy(buffer_ + leader.size(), "\r\n", 2);
  fill_ = leader.size() + 2;
  send_offset_ = 0;
  header_ = message->headers().begin();
  headers_done_ = false;
  document_ended_ = false;
  body_done_ = false;
  body_started_ = false;
  std::string length;
  int64_t announced = 0;
  if (!send_chunked_ && message->document() && message->HasHeader("Content-Length", &length) &&
      ParseBodySize(length, &announced)) {
    send_remaining_ = announced;
  }
  if (DataStream* document = message->document()) {
    // Once per document: a message sent again (a redirect, a retry) must not be pumped twice.
    document->StreamEvent.Disconnect(this);
    document->StreamEvent.Connect(this, &HttpBase::OnDocumentEvent);
  }
  QueueHeaders();
  FlushData();
}

void HttpBase::Recv(HttpMessage* message) {
  if (mode_ != HM_NONE || !message) return;
  message_ = message;
  mode_ = HM_RECV;
  // Bytes left after the last received message (an interim 100 answer is followed at once
  // by the real one) belong to this one.
  const bool buffered = fill_ > 0;
  state_ = ST_LEADER;
  chunked_ = false;
  discard_ = false;
  data_size_ = -1;
  content_length_ = -1;
  header_bytes_ = 0;
  header_count_ = 0;
  received_bytes_ = 0;
  excess_data_ = false;
  if (buffered) {
    HttpError outcome = HERR_NONE;
    if (ProcessBuffer(&outcome)) {
      Complete(outcome);
      return;
    }
  }
  if (!stream_ || stream_->GetState() != STREAM_OPEN) {
    Complete(HERR_DISCONNECTED);
    return;
  }
  ReadData();
}

void HttpBase::Abort(HttpError error) {
  if (mode_ == HM_NONE) return;
  if (stream_) stream_->Close();
  Complete(error);
}

void HttpBase::OnStreamEvent(DataStream*, int events, int error) {
  if ((events & SE_OPEN) && mode_ == HM_CONNECT) {
    Complete(HERR_NONE);
    return;
  }
  if ((events & SE_WRITE) && mode_ == HM_SEND) {
    FlushData();
    return;
  }
  if ((events & SE_READ) && mode_ == HM_RECV) {
    ReadData();
    return;
  }
  if (events & SE_CLOSE) OnClose(error);
}

void HttpBase::OnDocumentEvent(DataStream* document, int events, int) {
  // Old documents stay connected until they go; only the one being sent counts.
  if (reading_document_ || mode_ != HM_SEND || !message_ || document != message_->document()) {
    return;
  }
  if (!(events & (SE_READ | SE_CLOSE))) return;
  // With output still waiting for the stream, its SE_WRITE goes on.
  if (send_offset_ < fill_) return;
  FlushData();
}

void HttpBase::OnClose(int code) {
  if (stream_) stream_->Close();
  HttpError error = ErrorFromCloseCode(code);
  if (error == HERR_SOCKET) LOG(kError) << "OnEvent - SE_CLOSE error: " << code;
  if (mode_ == HM_RECV && code == 0) {
    // Only a body without a length may end with the connection.
    Complete(state_ == ST_DATA && data_size_ < 0 ? HERR_NONE : HERR_DISCONNECTED);
    return;
  }
  if (mode_ == HM_NONE) {
    if (notify_) notify_->OnHttpClosed(error);
    return;
  }
  Complete(error);
}

void HttpBase::Complete(HttpError error) {
  HttpMode mode = mode_;
  if (mode == HM_RECV) state_ = ST_COMPLETE;
  mode_ = HM_NONE;
  message_ = nullptr;
  // Last: the owner may start the next operation or destroy us from here.
  if (notify_) notify_->OnHttpComplete(mode, error);
}

void HttpBase::QueueHeaders() {
  const HttpHeaderMap& headers = message_->headers();
  while (header_ != headers.end()) {
    const std::string& name = header_->first;
    const std::string& value = header_->second;
    if (name.empty() || HasLineBreak(name) || HasLineBreak(value)) {
      // A line break would let a value smuggle further headers or a second request.
      LOG(kWarning) << "discarding header with a line break: " << PrintableText(name, 64);
      ++header_;
      continue;
    }
    if (send_chunked_ && EqualsNoCase(name, "Content-Length")) {
      // Both would leave the receiver to pick one framing, and a proxy on the way another.
      LOG(kWarning) << "not sending Content-Length with chunked coding";
      ++header_;
      continue;
    }
    size_t length = name.size() + 2 + value.size() + 2;
    // Room is kept for the empty line that ends the headers.
    if (fill_ + length > kBufferSize - 4) {
      if (fill_ > 0) return;  // the rest follows once the buffer is out
      LOG(kWarning) << "discarding header that is too long: " << PrintableText(name, 64);
      ++header_;
      continue;
    }
    char* out = buffer_ + fill_;
    std::memcpy(out, name.data(), name.size());
    out += name.size();
    std::memcpy(out, ": ", 2);
    out += 2;
    std::memcpy(out, value.data(), value.size());
    out += value.size();
    std::memcpy(out, "\r\n", 2);
    fill_ += length;
    ++header_;
  }
  std::memcpy(buffer_ + fill_, "\r\n", 2);
  fill_ += 2;
  headers_done_ = true;
}

void HttpBase::FlushData() {
  for (;;) {
    while (send_offset_ < fill_) {
      size_t written = 0;
      int error = 0;
      StreamResult result =
          stream_->Write(buffer_ + send_offset_, fill_ - send_offset_, &written, &error);
      if (result == SR_SUCCESS) {
        send_offset_ += written;
        continue;
      }
      if (result == SR_BLOCK) return;  // the next SE_WRITE goes on
      LOG(kError) << "HttpBase::flush_data error.";
      OnClose(error ? error : kSocketConnectionReset);
      return;
    }
    fill_ = 0;
    send_offset_ = 0;
    if (!headers_done_) {
      QueueHeaders();
      continue;
    }
    if (body_done_) {
      Complete(HERR_NONE);
      return;
    }
    if (FillBody() != FILL_READY) return;
  }
}

HttpBase::FillResult HttpBase::FillBody() {
  DataStream* document = message_->document();
  // Chunked: the data goes after room for its size line, and leaves room for the CR LF.
  const size_t start = send_chunked_ ? kChunkPrefix : 0;
  size_t want = send_chunked_ ? kMaxChunk : kBufferSize;
  if (send_remaining_ >= 0) want = std::min<size_t>(want, static_cast<size_t>(send_remaining_));
  bool ended = document_ended_ || !document || send_remaining_ == 0;
  size_t got = 0;
  // Small reads are gathered, so that a document giving a few bytes at a time does not
  // become as many chunks or writes.
  while (!ended && got < want) {
    size_t read = 0;
    int error = 0;
    reading_document_ = true;
    StreamResult result = document->Read(buffer_ + start + got, want - got, &read, &error);
    reading_document_ = false;
    if (result == SR_SUCCESS && read > 0) {
      got += std::min(read, want - got);
      body_started_ = true;
      continue;
    }
    if (result == SR_EOS) {
      body_started_ = true;
      ended = true;
      break;
    }
    // Would block, or nothing now: the document's SE_READ brings the rest.
    if (result == SR_BLOCK || result == SR_SUCCESS) break;
    LOG(kError) << "HttpBase::flush_data - Read error: " << error;
    Complete(HERR_STREAM);
    return FILL_FAILED;
  }
  if (send_remaining_ > 0) send_remaining_ -= static_cast<int64_t>(got);
  if (ended && send_remaining_ > 0) {
    // A body shorter than its Content-Length would leave the peer waiting for the rest.
    LOG(kError) << "HttpBase::flush_data - Read error: the body ended " << send_remaining_
                << " bytes before its length";
    Complete(HERR_STREAM);
    return FILL_FAILED;
  }
  if (got == 0 && !ended) return FILL_WAIT;
  if (!send_chunked_) {
    fill_ = got;
    body_done_ = ended;
    return FILL_READY;
  }
  if (got == 0) {
    // The last chunk (no trailers).
    std::memcpy(buffer_, "0\r\n\r\n", 5);
    fill_ = 5;
    body_done_ = true;
    return FILL_READY;
  }
  char size_line[kChunkPrefix + 1];
  int length = std::snprintf(size_line, sizeof(size_line), "%zx\r\n", got);
  send_offset_ = start - static_cast<size_t>(length);
  std::memcpy(buffer_ + send_offset_, size_line, static_cast<size_t>(length));
  std::memcpy(buffer_ + start + got, "\r\n", 2);
  fill_ = start + got + 2;
  // The last chunk follows in the next round.
  document_ended_ = ended;
  return FILL_READY;
}

void HttpBase::ReadData() {
  for (;;) {
    if (fill_ >= kBufferSize) {
      Complete(HERR_OVERFLOW);
      return;
    }
    size_t read = 0;
    int error = 0;
    StreamResult result = stream_->Read(buffer_ + fill_, kBufferSize - fill_, &read, &error);
    if (result == SR_BLOCK) return;
    if (result == SR_EOS) {
      OnClose(0);
      return;
    }
    if (result == SR_ERROR) {
      OnClose(error ? error : kSocketConnectionReset);
      return;
    }
    fill_ += read;
    received_bytes_ += read;
    HttpError outcome = HERR_NONE;
    if (ProcessBuffer(&outcome)) {
      Complete(outcome);
      return;
    }
  }
}

bool HttpBase::ProcessBuffer(HttpError* error) {
  size_t pos = 0;
  bool ended = false;
  while (pos < fill_ && !ended) {
    if (state_ == ST_DATA) {
      if (data_size_ != 0) {
        size_t available = fill_ - pos;
        if (data_size_ > 0) available = std::min<size_t>(available, static_cast<size_t>(data_size_));
        HttpError result = ProcessData(buffer_ + pos, available);
        pos += available;
        if (data_size_ > 0) data_size_ -= static_cast<int64_t>(available);
        if (result != HERR_NONE) {
          *error = result;
          ended = true;
          break;
        }
      }
      if (data_size_ == 0) {
        if (!chunked_) {
          *error = HERR_NONE;
          ended = true;
          break;
        }
        state_ = ST_CHUNKTERM;
      }
      continue;
    }
    const char* feed = static_cast<const char*>(std::memchr(buffer_ + pos, '\n', fill_ - pos));
    if (!feed) break;
    size_t end = static_cast<size_t>(feed - buffer_);
    std::string_view line = TrimRight(std::string_view(buffer_ + pos, end - pos), kLineSpace);
    size_t consumed = end + 1 - pos;
    pos = end + 1;
    if (state_ == ST_LEADER || state_ == ST_HEADERS || state_ == ST_TRAILERS) {
      header_bytes_ += consumed;
      if (header_bytes_ > kMaxHeaderBytes) {
        *error = HERR_OVERFLOW;
        ended = true;
        break;
      }
    }
    ended = ProcessLine(line, error);
  }
  if (ended && pos < fill_) excess_data_ = true;
  std::memmove(buffer_, buffer_ + pos, fill_ - pos);
  fill_ -= pos;
  return ended;
}

bool HttpBase::ProcessLine(std::string_view line, HttpError* error) {
  switch (state_) {
    case ST_LEADER:
      // Tolerated before a message (the last one's stray line end).
      if (line.empty()) return false;
      state_ = ST_HEADERS;
      *error = message_->ParseLeader(line);
      return *error != HERR_NONE;
    case ST_HEADERS:
      if (!line.empty()) return ProcessHeader(line, error);
      return ProcessHeaderComplete(error);
    case ST_CHUNKSIZE: {
      // Chunk extensions (after ';') carry nothing we use.
      std::string_view size = TrimRight(line.substr(0, line.find(';')), kLineSpace);
      if (!ParseHex(size, &data_size_)) {
        *error = HERR_PROTOCOL;
        return true;
      }
      state_ = data_size_ > 0 ? ST_DATA : ST_TRAILERS;
      return false;
    }
    case ST_CHUNKTERM:
      if (!line.empty()) {
        *error = HERR_PROTOCOL;
        return true;
      }
      state_ = chunked_ ? ST_CHUNKSIZE : ST_DATA;
      return false;
    case ST_TRAILERS:
      if (line.empty()) {
        *error = HERR_NONE;
        return true;
      }
      if (++header_count_ > kMaxHeaderCount) {
        *error = HERR_OVERFLOW;
        return true;
      }
      return false;
    default:
      *error = HERR_PROTOCOL;
      return true;
  }
}

bool HttpBase::ProcessHeader(std::string_view line, HttpError* error) {
  *error = HERR_PROTOCOL;
  if (++header_count_ > kMaxHeaderCount) {
    *error = HERR_OVERFLOW;
    return true;
  }
  size_t colon = line.find(':');
  // No continuation lines and no space before the colon: both have been used to make two
  // parties read one header differently.
  if (colon == std::string_view::npos || colon == 0) return true;
  std::string_view name = line.substr(0, colon);
  for (char c : name) {
    if (c == ' ' || c == '\t' || static_cast<unsigned char>(c) < 0x20) return true;
  }
  size_t start = colon + 1;
  while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
  std::string_view value = line.substr(start);
  if (EqualsNoCase(name, "Content-Length")) {
    int64_t length = 0;
    if (!ParseBodySize(value, &length)) return true;
    // Two different lengths leave the message's end ambiguous.
    if (content_length_ >= 0 && content_length_ != length) return true;
    content_length_ = length;
  } else if (EqualsNoCase(name, "Transfer-Encoding")) {
    if (EqualsNoCase(value, "chunked")) {
      chunked_ = true;
    } else if (EqualsNoCase(value, "identity")) {
      chunked_ = false;
    } else {
      return true;
    }
  }
  message_->AddHeader(std::string(name), std::string(value), HDR_AUTO);
  *error = HERR_NONE;
  return false;
}

bool HttpBase::ProcessHeaderComplete(HttpError* error) {
  // With chunked coding the chunks say where the body ends, whatever a length says.
  data_size_ = chunked_ ? -1 : content_length_;
  // A request without a length has no body; only a response may run until the close.
  if (!chunked_ && data_size_ < 0 && message_->IsRequest()) data_size_ = 0;
  discard_ = false;
  if (notify_) notify_->OnHttpHeaderComplete(chunked_, &data_size_, &discard_);
  if (data_size_ == 0) {
    chunked_ = false;
    state_ = ST_DATA;
    *error = HERR_NONE;
    return true;
  }
  state_ = chunked_ ? ST_CHUNKSIZE : ST_DATA;
  return false;
}

HttpError HttpBase::ProcessData(const char* data, size_t length) {
  DataStream* document = message_->document();
  if (discard_ || !document || length == 0) return HERR_NONE;
  size_t written = 0;
  int error = 0;
  StreamResult result = document->WriteAll(data, length, &written, &error);
  if (result == SR_SUCCESS) return HERR_NONE;
  if (result == SR_BLOCK || result == SR_EOS) {
    LOG(kError) << "HttpBase::onHttpRecvData - Write EOS or block";
  } else {
    LOG(kError) << "HttpBase::onHttpRecvData - Write error: " << error;
  }
  return HERR_STREAM;
}

}  // namespace vexalo
