// The HTTP engine over a stream whose input arrives in pieces of a chosen size, so that every
// framing case is also tried with lines, chunk sizes and CR LF pairs cut at each place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/http/httpbase.h"
#include "base/http/httprequest.h"
#include "base/http/httpresponse.h"
#include "base/runtime/logging.h"
#include "base/http/memorystream.h"

namespace vexalo {
namespace {

// A stream fed by the test: reads take at most `piece` bytes of the input, then block until
// the test delivers the next read event; writes collect into `sent` (or block when told).
class PieceStream : public DataStream {
 public:
  StreamState GetState() const override { return state; }
  StreamResult Read(void* buffer, size_t length, size_t* read, int*) override {
    if (input.empty()) {
      if (ended) return SR_EOS;
      return SR_BLOCK;
    }
    if (gave_piece) {
      gave_piece = false;
      return SR_BLOCK;
    }
    size_t count = std::min({length, piece, input.size()});
    std::memcpy(buffer, input.data(), count);
    input.erase(0, count);
    if (read) *read = count;
    gave_piece = true;
    return SR_SUCCESS;
  }
  StreamResult Write(const void* data, size_t length, size_t* written, int*) override {
    if (write_budget == 0) return SR_BLOCK;
    size_t count = std::min(length, write_budget);
    write_budget -= count;
    sent.append(static_cast<const char*>(data), count);
    if (written) *written = count;
    return SR_SUCCESS;
  }
  void Close() override { state = STREAM_CLOSED; }

  // Delivers read events until everything was read (and the end, if `end`).
  void Pump(bool end) {
    ended = end;
    for (int i = 0; i < 100000 && (!input.empty() || end) && state == STREAM_OPEN; ++i) {
      gave_piece = false;
      StreamEvent.Emit(this, SE_READ, 0);
    }
  }

  StreamState state = STREAM_OPEN;
  std::string input;
  size_t piece = 1;
  bool ended = false;
  bool gave_piece = false;
  std::string sent;
  size_t write_budget = static_cast<size_t>(-1);
};

struct Recorder : public HttpBaseNotify {
  void OnHttpComplete(HttpMode m, HttpError e) override {
    ++completions;
    mode = m;
    error = e;
  }
  void OnHttpClosed(HttpError e) override { closed = e; }
  int completions = 0;
  HttpMode mode = HM_NONE;
  HttpError error = HERR_NONE;
  int closed = -1;
};

struct Received {
  int completions;
  HttpError error;
  std::string body;
  int status;
  bool excess;
};

Received Receive(const std::string& input, size_t piece, bool end) {
  PieceStream stream;
  stream.input = input;
  stream.piece = piece;
  HttpBase engine;
  Recorder recorder;
  engine.set_notify(&recorder);
  engine.Attach(&stream);
  HttpResponse response;
  auto* body = new MemoryStream();
  response.SetDocument(std::unique_ptr<DataStream>(body));
  engine.Recv(&response);
  stream.Pump(false);
  if (recorder.completions == 0 && end) stream.Pump(true);
  return {recorder.completions, recorder.error, body->data(), response.status,
          engine.excess_data()};
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(HttpBaseTest, ReceivesEachFramingWhateverThePieces) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  struct Case {
    const char* name;
    std::string input;
    bool close_after;  // the peer closes once everything is sent
    HttpError error;
    std::string body;
  } cases[] = {
      {"zero length", ok + "Content-Length: 0\r\n\r\n", false, HERR_NONE, ""},
      {"length", ok + "Content-Length: 5\r\n\r\nhello", false, HERR_NONE, "hello"},
      {"length, LF only", "HTTP/1.1 200 OK\nContent-Length: 2\n\nhi", false, HERR_NONE, "hi"},
      {"same length twice", ok + "Content-Length: 2\r\nContent-Length: 2\r\n\r\nhi", false,
       HERR_NONE, "hi"},
      {"chunked", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", false,
       HERR_NONE, "hello"},
      {"chunks, hex, extension, trailers",
       ok + "Transfer-Encoding: Chunked\r\n\r\nA;name=value\r\n0123456789\r\n3\r\nabc\r\n"
            "0\r\nX-Trailer: 1\r\n\r\n",
       false, HERR_NONE, "0123456789abc"},
      {"chunked wins over a length",
       ok + "Content-Length: 100\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n0\r\n\r\n",
       false, HERR_NONE, "hi"},
      {"close-delimited", ok + "\r\nuntil the end", true, HERR_NONE, "until the end"},
      {"identity, close-delimited", ok + "Transfer-Encoding: identity\r\n\r\nabc", true,
       HERR_NONE, "abc"},
      {"closed in a chunked body", ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhel", true,
       HERR_DISCONNECTED, "hel"},
      {"closed before the length", ok + "Content-Length: 10\r\n\r\nshort", true,
       HERR_DISCONNECTED, "short"},
      {"closed in the headers", ok + "Content-Le", true, HERR_DISCONNECTED, ""},
      {"signed length", ok + "Content-Length: +5\r\n\r\nhello", false, HERR_PROTOCOL, ""},
      {"negative length", ok + "Content-Length: -1\r\n\r\n", false, HERR_PROTOCOL, ""},
      {"hex length", ok + "Content-Length: 0x5\r\n\r\nhello", false, HERR_PROTOCOL, ""},
      {"two numbers", ok + "Content-Length: 5 5\r\n\r\nhello", false, HERR_PROTOCOL, ""},
      {"empty length", ok + "Content-Length:\r\n\r\n", false, HERR_PROTOCOL, ""},
      {"huge length", ok + "Content-Length: 99999999999999999999999\r\n\r\n", false,
       HERR_PROTOCOL, ""},
      {"conflicting lengths", ok + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nabc", false,
       HERR_PROTOCOL, ""},
      {"bad chunk size", ok + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", false, HERR_PROTOCOL,
       ""},
      {"negative chunk size", ok + "Transfer-Encoding: chunked\r\n\r\n-1\r\n", false,
       HERR_PROTOCOL, ""},
      {"empty chunk size", ok + "Transfer-Encoding: chunked\r\n\r\n\r\n", false, HERR_PROTOCOL,
       ""},
      {"huge chunk size", ok + "Transfer-Encoding: chunked\r\n\r\nffffffffffffffffff\r\n", false,
       HERR_PROTOCOL, ""},
      {"chunk longer than its size",
       ok + "Transfer-Encoding: chunked\r\n\r\n2\r\nhi!\r\n0\r\n\r\n", false, HERR_PROTOCOL,
       "hi"},
      {"other coding", ok + "Transfer-Encoding: gzip, chunked\r\n\r\n", false, HERR_PROTOCOL,
       ""},
      {"header without colon", ok + "Nonsense\r\n\r\n", false, HERR_PROTOCOL, ""},
      {"folded header", ok + "X-A: 1\r\n continued\r\n\r\n", false, HERR_PROTOCOL, ""},
      {"space before colon", ok + "Content-Length : 5\r\n\r\nhello", false, HERR_PROTOCOL, ""},
      {"HTTP/2 leader", "HTTP/2.0 200 OK\r\n\r\n", false, HERR_PROTOCOL, ""},
      {"short status", "HTTP/1.1 20 OK\r\n\r\n", false, HERR_PROTOCOL, ""},
      {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", false, HERR_PROTOCOL, ""},
      {"line beyond the buffer", ok + "X-Long: " + std::string(5000, 'a') + "\r\n\r\n", false,
       HERR_OVERFLOW, ""},
      {"too many headers", ok + Repeat("X-Many: 1\r\n", 101) + "\r\n", false, HERR_OVERFLOW, ""},
      {"header block too big",
       ok + Repeat("X-Big: " + std::string(2000, 'b') + "\r\n", 40) + "\r\n", false,
       HERR_OVERFLOW, ""},
      {"too many trailers",
       ok + "Transfer-Encoding: chunked\r\n\r\n0\r\n" + Repeat("X-T: 1\r\n", 101) + "\r\n",
       false, HERR_OVERFLOW, ""},
  };
  for (const Case& c : cases) {
    for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{4096}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      Received r = Receive(c.input, piece, c.close_after);
      EXPECT_EQ(r.completions, 1);
      EXPECT_EQ(r.error, c.error);
      if (c.error == HERR_NONE || c.error == HERR_DISCONNECTED) {
        EXPECT_EQ(r.body, c.body);
      }
    }
  }
}

TEST(HttpBaseTest, NoBodyWhenTheOwnerSaysSoAndExcessIsNoticed) {
  // A HEAD answer announces a length but carries no body: the owner sets the size to 0.
  struct NoBody : public Recorder {
    void OnHttpHeaderComplete(bool, int64_t* size, bool*) override { *size = 0; }
  } recorder;
  PieceStream stream;
  stream.input = "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n";
  stream.piece = 4096;
  HttpBase engine;
  engine.set_notify(&recorder);
  engine.Attach(&stream);
  HttpResponse response;
  engine.Recv(&response);
  stream.Pump(false);
  EXPECT_EQ(recorder.completions, 1);
  EXPECT_EQ(recorder.error, HERR_NONE);
  EXPECT_FALSE(engine.excess_data());

  Received r = Receive("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhiHTTP/1.1 200 OK\r\n",
                       4096, false);
  EXPECT_EQ(r.error, HERR_NONE);
  EXPECT_EQ(r.body, "hi");
  EXPECT_TRUE(r.excess);
}

TEST(HttpBaseTest, SendsLeaderHeadersAndBodyThroughAFullStream) {
  PieceStream stream;
  stream.write_budget = 10;  // the stream takes a little, then blocks
  HttpBase engine;
  Recorder recorder;
  engine.set_notify(&recorder);
  engine.Attach(&stream);
  HttpRequest request;
  request.verb = HV_POST;
  request.path = "/upload";
  request.AddHeader("Host", "example.test");
  request.AddHeader("X-Too-Long", std::string(5000, 'x'));
  request.AddHeader("X-Injected", "a\r\nEvil: 1");
  std::string body(10000, 'q');
  EXPECT_TRUE(request.SetContent("text/plain", std::make_unique<MemoryStream>(body)));
  std::vector<std::string> logged;
  SetLogConsoleSink([&](std::string_view line) { logged.emplace_back(line); });
  LogToDebug(kWarning);
  engine.Send(&request);
  for (int i = 0; i < 10000 && recorder.completions == 0; ++i) {
    stream.write_budget = 100;
    stream.StreamEvent.Emit(&stream, SE_WRITE, 0);
  }
  ResetLogging();
  EXPECT_EQ(recorder.completions, 1);
  EXPECT_EQ(recorder.mode, HM_SEND);
  EXPECT_EQ(recorder.error, HERR_NONE);
  EXPECT_EQ(stream.sent,
            "POST /upload HTTP/1.1\r\nContent-Length: 10000\r\nContent-Type: text/plain\r\n"
            "Host: example.test\r\n\r\n" + body);
  std::string all;
  for (const auto& line : logged) all += line + "\n";
  EXPECT_NE(all.find("discarding header that is too long: X-Too-Long"), std::string::npos) << all;
  EXPECT_NE(all.find("X-Injected"), std::string::npos) << all;
}

TEST(HttpBaseTest, BodyShorterThanItsLengthFails) {
  PieceStream stream;
  HttpBase engine;
  Recorder recorder;
  engine.set_notify(&recorder);
  engine.Attach(&stream);
  HttpRequest request;
  request.SetDocument(std::make_unique<MemoryStream>("abc"));
  request.AddHeader("Content-Length", "10");
  engine.Send(&request);
  EXPECT_EQ(recorder.error, HERR_STREAM);
}

// A body that cannot tell its size; optionally it hands out what it has been given so far
// and would-blocks for the rest, as a body produced while it is sent does.
class UnsizedStream : public DataStream {
 public:
  explicit UnsizedStream(std::string data = "", bool complete = true)
      : data_(std::move(data)), complete_(complete) {}
  StreamState GetState() const override { return STREAM_OPEN; }
  StreamResult Read(void* buffer, size_t length, size_t* read, int* error) override {
    ++reads;
    if (fail_at_ && position_ >= fail_at_) {
      if (error) *error = 5;
      return SR_ERROR;
    }
    if (position_ == data_.size()) return complete_ ? SR_EOS : SR_BLOCK;
    size_t count = std::min(length, data_.size() - position_);
    if (fail_at_) count = std::min(count, fail_at_ - position_);
    std::memcpy(buffer, data_.data() + position_, count);
    position_ += count;
    if (read) *read = count;
    return SR_SUCCESS;
  }
  StreamResult Write(const void*, size_t, size_t*, int*) override { return SR_ERROR; }
  void Close() override {}
  bool Rewind() override {
    position_ = 0;
    return true;
  }

  // More of the body is there (and, with `complete`, that is all): SE_READ as a producer would.
  void Produce(const std::string& more, bool complete) {
    data_ += more;
    complete_ = complete;
    StreamEvent.Emit(this, SE_READ, 0);
  }
  // Reads fail once `offset` bytes were given out.
  void FailAt(size_t offset) { fail_at_ = offset; }

  int reads = 0;

 private:
  std::string data_;
  bool complete_;
  size_t position_ = 0;
  size_t fail_at_ = 0;
};

// `body` framed as this engine frames it: chunks of at most kMaxChunk and the last chunk.
std::string Chunked(const std::string& body) {
  std::string out;
  for (size_t at = 0; at < body.size(); at += HttpBase::kMaxChunk) {
    std::string piece = body.substr(at, HttpBase::kMaxChunk);
    char size[16];
    std::snprintf(size, sizeof(size), "%zx\r\n", piece.size());
    out += size + piece + "\r\n";
  }
  return out + "0\r\n\r\n";
}

// Sends `request` over a stream that takes `budget` bytes per write event.
struct SendRun {
  SendRun() {
    engine.set_notify(&recorder);
    engine.Attach(&stream);
  }
  void Send(HttpRequest* request, size_t budget) {
    stream.write_budget = budget;
    engine.Send(request);
    for (int i = 0; i < 200000 && recorder.completions == 0 && stream.state == STREAM_OPEN; ++i) {
      if (stream.write_budget > 0) break;  // waiting for the document, not the stream
      stream.write_budget = budget;
      stream.StreamEvent.Emit(&stream, SE_WRITE, 0);
    }
  }
  PieceStream stream;
  HttpBase engine;
  Recorder recorder;
};

TEST(HttpBaseTest, UnsizedBodyGoesInChunksThatTheReceiverReadsBack) {
  const std::string head =
      "POST /up HTTP/1.1\r\nHost: example.test\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::string patterned;
  for (int i = 0; patterned.size() < 10000; ++i) patterned += std::to_string(i) + ",";
  patterned.resize(10000);
  const std::string sizes[] = {"", "x", std::string(HttpBase::kMaxChunk, 'a'),
                               std::string(HttpBase::kMaxChunk + 1, 'b'), patterned,
                               std::string("\r\n0\r\n\r\n", 7)};
  for (const std::string& body : sizes) {
    for (size_t budget : {size_t{3}, size_t{1000}, static_cast<size_t>(-1)}) {
      SCOPED_TRACE("body of " + std::to_string(body.size()) + ", writes of " +
                   std::to_string(budget));
      SendRun run;
      HttpRequest request;
      request.verb = HV_POST;
      request.path = "/up";
      request.AddHeader("Host", "example.test");
      request.AddHeader("Transfer-Encoding", "chunked");
      request.SetDocument(std::make_unique<UnsizedStream>(body));
      run.Send(&request, budget);
      EXPECT_EQ(run.recorder.completions, 1);
      EXPECT_EQ(run.recorder.error, HERR_NONE);
      EXPECT_TRUE(run.engine.body_started());
      ASSERT_EQ(run.stream.sent, head + Chunked(body));

      // What went out is one whole request to this engine's receiving side.
      PieceStream wire;
      wire.input = run.stream.sent;
      wire.piece = 4096;
      HttpBase server;
      Recorder heard;
      server.set_notify(&heard);
      server.Attach(&wire);
      HttpRequest received;
      auto* document = new MemoryStream();
      received.SetDocument(std::unique_ptr<DataStream>(document));
      server.Recv(&received);
      wire.Pump(false);
      EXPECT_EQ(heard.error, HERR_NONE);
      EXPECT_EQ(document->data(), body);
      EXPECT_FALSE(server.excess_data());
    }
  }
}

TEST(HttpBaseTest, BodyThatWouldBlockIsWaitedForBetweenChunks) {
  SendRun run;
  HttpRequest request;
  request.verb = HV_PUT;
  request.path = "/live";
  request.AddHeader("Transfer-Encoding", "chunked");
  auto owned = std::make_unique<UnsizedStream>("abc", false);
  UnsizedStream* body = owned.get();
  request.SetDocument(std::move(owned));
  run.Send(&request, static_cast<size_t>(-1));
  const std::string head = "PUT /live HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
  EXPECT_EQ(run.stream.sent, head + "3\r\nabc\r\n");
  EXPECT_EQ(run.recorder.completions, 0);
  EXPECT_EQ(run.engine.mode(), HM_SEND);
  // Stream write events while the body has nothing new send nothing and end nothing.
  const int reads = body->reads;
  run.stream.StreamEvent.Emit(&run.stream, SE_WRITE, 0);
  EXPECT_EQ(run.stream.sent, head + "3\r\nabc\r\n");
  EXPECT_LE(body->reads - reads, 1);

  // The stream is full when more of the body arrives: it waits for the stream.
  run.stream.write_budget = 4;
  body->Produce("defgh", false);
  EXPECT_EQ(run.stream.sent, head + "3\r\nabc\r\n5\r\nd");
  run.stream.write_budget = static_cast<size_t>(-1);
  run.stream.StreamEvent.Emit(&run.stream, SE_WRITE, 0);
  EXPECT_EQ(run.stream.sent, head + "3\r\nabc\r\n5\r\ndefgh\r\n");
  EXPECT_EQ(run.recorder.completions, 0);

  body->Produce("", true);
  EXPECT_EQ(run.stream.sent, head + "3\r\nabc\r\n5\r\ndefgh\r\n0\r\n\r\n");
  EXPECT_EQ(run.recorder.completions, 1);
  EXPECT_EQ(run.recorder.error, HERR_NONE);
  // Done: later events of the document do nothing.
  body->Produce("late", true);
  EXPECT_EQ(run.recorder.completions, 1);
}

TEST(HttpBaseTest, HeadersChooseHowTheBodyIsFramed) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> headers;
    bool unsized;  // else a MemoryStream, which knows its size
    const char* body;
    HttpError error;
    std::string sent;  // after the leader line
  } cases[] = {
      {"length", {{"Content-Length", "5"}}, false, "hello", HERR_NONE,
       "Content-Length: 5\r\n\r\nhello"},
      {"length of an unsized body", {{"Content-Length", "5"}}, true, "hello", HERR_NONE,
       "Content-Length: 5\r\n\r\nhello"},
      {"chunked wins, no length sent",
       {{"Content-Length", "5"}, {"Transfer-Encoding", "chunked"}}, false, "hello", HERR_NONE,
       "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"},
      {"chunked without a document", {{"Transfer-Encoding", "chunked"}}, false, nullptr,
       HERR_NONE, "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n"},
      {"neither: until the document ends", {}, true, "to the end", HERR_NONE,
       "\r\nto the end"},
      {"a coding this engine does not apply", {{"Transfer-Encoding", "gzip"}}, false, "hello",
       HERR_PROTOCOL, ""},
      {"unsized body shorter than its length", {{"Content-Length", "9"}}, true, "short",
       HERR_STREAM, "Content-Length: 9\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SendRun run;
    HttpRequest request;
    request.verb = HV_POST;
    for (const auto& [name, value] : c.headers) request.AddHeader(name, value);
    if (c.body && c.unsized) request.SetDocument(std::make_unique<UnsizedStream>(c.body));
    if (c.body && !c.unsized) request.SetDocument(std::make_unique<MemoryStream>(c.body));
    run.Send(&request, static_cast<size_t>(-1));
    EXPECT_EQ(run.recorder.completions, 1);
    EXPECT_EQ(run.recorder.error, c.error);
    EXPECT_EQ(run.stream.sent, c.sent.empty() ? "" : "POST  HTTP/1.1\r\n" + c.sent);
  }
}

TEST(HttpBaseTest, FailingBodyIsNeverEndedAsIfComplete) {
  // A read error half way must not be followed by the last chunk: the server would take the
  // cut body for the whole one.
  SendRun run;
  HttpRequest request;
  request.verb = HV_POST;
  request.AddHeader("Transfer-Encoding", "chunked");
  auto body = std::make_unique<UnsizedStream>(std::string(10000, 'z'));
  body->FailAt(5000);
  request.SetDocument(std::move(body));
  run.Send(&request, static_cast<size_t>(-1));
  EXPECT_EQ(run.recorder.completions, 1);
  EXPECT_EQ(run.recorder.error, HERR_STREAM);
  EXPECT_EQ(run.stream.sent.find("\r\n0\r\n\r\n"), std::string::npos);
  EXPECT_LT(run.stream.sent.size(), 5100u);
}

TEST(HttpBaseTest, CloseEventsMapToErrors) {
  struct Case {
    int code;
    HttpError error;
  } cases[] = {{0, HERR_DISCONNECTED}, {10013, HERR_AUTH}, {static_cast<int>(0x80090328),
               HERR_CERT_EXPIRED}, {static_cast<int>(0x80090325), HERR_CERT}, {10054, HERR_SOCKET}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    PieceStream stream;
    HttpBase engine;
    Recorder recorder;
    engine.set_notify(&recorder);
    engine.Attach(&stream);
    HttpResponse response;
    engine.Recv(&response);
    stream.StreamEvent.Emit(&stream, SE_CLOSE, c.code);
    EXPECT_EQ(recorder.error, c.error);
    EXPECT_EQ(stream.state, STREAM_CLOSED);
    // Idle: the owner hears of the close separately.
    PieceStream idle;
    HttpBase idle_engine;
    Recorder idle_recorder;
    idle_engine.set_notify(&idle_recorder);
    idle_engine.Attach(&idle);
    idle.StreamEvent.Emit(&idle, SE_CLOSE, c.code);
    EXPECT_EQ(idle_recorder.closed, c.error);
    EXPECT_EQ(idle_recorder.completions, 0);
  }
}

TEST(HttpMessageTest, HeaderModes) {
  HttpResponse m;
  m.AddHeader("Accept", "a");
  m.AddHeader("accept", "b");  // combined into the first
  m.AddHeader("Set-Cookie", "x=1");
  m.AddHeader("set-cookie", "y=2");  // kept apart
  m.AddHeader("X-Once", "1", HDR_IF_ABSENT);
  m.AddHeader("x-once", "2", HDR_IF_ABSENT);
  m.AddHeader("X-Rep", "1", HDR_ADD);
  m.AddHeader("X-Rep", "2", HDR_ADD);
  m.AddHeader("x-rep", "3", HDR_REPLACE);
  std::string value;
  EXPECT_TRUE(m.HasHeader("ACCEPT", &value));
  EXPECT_EQ(value, "a,b");
  EXPECT_EQ(m.headers().count("Set-Cookie"), 2u);
  EXPECT_TRUE(m.HasHeader("X-Once", &value));
  EXPECT_EQ(value, "1");
  EXPECT_EQ(m.headers().count("X-Rep"), 1u);
  EXPECT_TRUE(m.HasHeader("X-Rep", &value));
  EXPECT_EQ(value, "3");
}

TEST(HttpMessageTest, Leaders) {
  struct Case {
    const char* line;
    HttpError error;
    int status;
    const char* message;
  } responses[] = {
      {"HTTP/1.1 200 OK", HERR_NONE, 200, "OK"},
      {"HTTP/1.0 404 Not Found", HERR_NONE, 404, "Not Found"},
      {"HTTP/1.1 204", HERR_NONE, 204, ""},
      {"HTTP/1.1 2000 OK", HERR_PROTOCOL, 500, ""},
      {"HTTP/1.1 099 Low", HERR_PROTOCOL, 500, ""},
      {"HTTP/1.1 -20 OK", HERR_PROTOCOL, 500, ""},
      {"HTTP/2 200 OK", HERR_PROTOCOL, 500, ""},
      {"http/1.1 200 OK", HERR_PROTOCOL, 500, ""},
  };
  for (const Case& c : responses) {
    SCOPED_TRACE(c.line);
    HttpResponse r;
    EXPECT_EQ(r.ParseLeader(c.line), c.error);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.message, c.message);
  }
  HttpRequest request;
  EXPECT_EQ(request.ParseLeader("POST /a?b HTTP/1.0"), HERR_NONE);
  EXPECT_EQ(request.verb, HV_POST);
  EXPECT_EQ(request.version, HVER_1_0);
  EXPECT_EQ(request.path, "/a?b");
  EXPECT_EQ(request.FormatLeader(), "POST /a?b HTTP/1.0");
  for (const char* bad : {"FETCH / HTTP/1.1", "GET / HTTP/1.2", "GET /", "GET  HTTP/1.1"}) {
    EXPECT_EQ(request.ParseLeader(bad), HERR_PROTOCOL) << bad;
  }
}

TEST(MemoryStreamTest, GrowsReadsRewindsAndStaysWithinItsLimit) {
  MemoryStream stream("ab", 2);
  EXPECT_TRUE(stream.Rewind());
  char buffer[8];
  size_t count = 0;
  EXPECT_EQ(stream.Read(buffer, sizeof(buffer), &count, nullptr), SR_SUCCESS);
  EXPECT_EQ(std::string(buffer, count), "ab");
  EXPECT_EQ(stream.Read(buffer, sizeof(buffer), &count, nullptr), SR_EOS);
  std::string big(100000, 'z');
  EXPECT_EQ(stream.WriteAll(big.data(), big.size(), &count, nullptr), SR_SUCCESS);
  size_t size = 0;
  EXPECT_TRUE(stream.GetSize(&size));
  EXPECT_EQ(size, 100002u);
  MemoryStream text("nul-terminated", -1);
  EXPECT_EQ(text.data(), "nul-terminated");
  std::string line;
  MemoryStream lines("one\ntwo");
  EXPECT_EQ(lines.ReadLine(&line), SR_SUCCESS);
  EXPECT_EQ(line, "one");
  EXPECT_EQ(lines.ReadLine(&line), SR_SUCCESS);
  EXPECT_EQ(line, "two");
  EXPECT_EQ(lines.ReadLine(&line), SR_EOS);

  MemoryStream bounded;
  bounded.SetMaxSize(10);
  int error = 0;
  EXPECT_EQ(bounded.Write("0123456789", 10, &count, &error), SR_SUCCESS);
  EXPECT_EQ(bounded.Write("x", 1, &count, &error), SR_ERROR);
  EXPECT_EQ(error, MemoryStream::kOutOfMemory);
}

}  // namespace
}  // namespace vexalo
