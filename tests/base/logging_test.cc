#include "base/runtime/logging.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/http/datastream.h"
#include "base/http/filestream.h"
#include "base/runtime/trafficlog.h"

namespace vexalo {
namespace {

// A sink that appends to a string the test keeps. It takes at most `chunk` bytes per Write,
// so that a line only arrives whole if the logger loops until everything is written.
class StringSink : public DataStream {
 public:
  explicit StringSink(std::shared_ptr<std::string> text, size_t chunk = SIZE_MAX)
      : text_(std::move(text)), chunk_(chunk) {}

  StreamState GetState() const override { return STREAM_OPEN; }
  StreamResult Read(void*, size_t, size_t*, int*) override { return SR_EOS; }
  StreamResult Write(const void* data, size_t length, size_t* written, int*) override {
    const size_t count = std::min(length, chunk_);
    text_->append(static_cast<const char*>(data), count);
    if (written) *written = count;
    return SR_SUCCESS;
  }
  void Close() override {}

 private:
  std::shared_ptr<std::string> text_;
  size_t chunk_;
};

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// '#' in `pattern` stands for one or more decimal digits, '%' for one or more lower-case hex
// digits; every other character for itself.
bool Matches(std::string_view text, std::string_view pattern) {
  size_t at = 0;
  for (char p : pattern) {
    if (p == '#' || p == '%') {
      const size_t start = at;
      while (at < text.size() && ((text[at] >= '0' && text[at] <= '9') ||
                                  (p == '%' && text[at] >= 'a' && text[at] <= 'f'))) {
        ++at;
      }
      if (at == start) return false;
    } else {
      if (at == text.size() || text[at] != p) return false;
      ++at;
    }
  }
  return at == text.size();
}

class LoggingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLogging();
    SetLogConsoleSink([this](std::string_view line) { console_ += line; });
  }
  void TearDown() override { ResetLogging(); }

  // Installs a fresh capturing sink at `severity`.
  void CaptureSink(LogSeverity severity, size_t chunk = SIZE_MAX) {
    sink_ = std::make_shared<std::string>();
    LogToStream(std::make_unique<StringSink>(sink_, chunk), severity);
  }

  std::string console_;
  std::shared_ptr<std::string> sink_ = std::make_shared<std::string>();
};

TEST_F(LoggingTest, StartStateLogsNothingAndEvaluatesNothing) {
  EXPECT_EQ(LogMinSeverity(), kLogOff);
  EXPECT_EQ(LogDebugSeverity(), kLogOff);
  EXPECT_EQ(LogStreamSeverity(), kLogOff);

  int evaluated = 0;
  auto touch = [&evaluated] { return ++evaluated; };
  LOG(kSensitive) << touch();
  LOG(kVerbose) << touch();
  LOG(kInfo) << touch();
  LOG(kWarning) << touch();
  LOG(kError) << touch();
  LOG_ERRNO(kError) << touch();
  LOG_ERR(kError, 10035) << touch();
  for (int severity = kSensitive; severity <= kError; ++severity) LOG_V(severity) << touch();

  EXPECT_EQ(evaluated, 0);
  EXPECT_EQ(console_, "");
}

TEST_F(LoggingTest, StatementBelowThresholdIsNotEvaluated) {
  LogToDebug(kWarning);
  int evaluated = 0;
  auto touch = [&evaluated] { return ++evaluated; };
  LOG(kInfo) << touch();
  LOG(kWarning) << touch();
  EXPECT_EQ(evaluated, 1);
}

TEST_F(LoggingTest, ElseAfterStatementBindsToCallersIf) {
  LogToDebug(kVerbose);
  int else_taken = 0;
  for (bool condition : {true, false}) {
    if (condition)
      LOG(kInfo) << "then";
    else
      ++else_taken;
  }
  EXPECT_EQ(else_taken, 1);
  EXPECT_EQ(console_, "then\n");
}

TEST_F(LoggingTest, ThresholdsSelectOutputs) {
  struct Case {
    LogSeverity debug;
    LogSeverity stream;
    std::string to_console;  // severities that arrive, as digits
    std::string to_sink;
  };
  const Case cases[] = {
      {kLogOff, kLogOff, "", ""},         {kVerbose, kLogOff, "1234", ""},
      {kLogOff, kSensitive, "", "01234"}, {kWarning, kInfo, "34", "234"},
      {kError, kError, "4", "4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "debug " << c.debug << " stream " << c.stream);
    console_.clear();
    LogToDebug(c.debug);
    CaptureSink(c.stream);
    EXPECT_EQ(LogMinSeverity(), std::min(c.debug, c.stream));
    for (int severity = kSensitive; severity <= kError; ++severity) {
      LogEntry("f.cc", 1, static_cast<LogSeverity>(severity), kLogErrorNone).stream() << severity;
    }
    std::string console_digits;
    for (const std::string& line : SplitLines(console_)) console_digits += line.back();
    std::string sink_digits;
    for (const std::string& line : SplitLines(*sink_)) sink_digits += line.back();
    EXPECT_EQ(console_digits, c.to_console);
    EXPECT_EQ(sink_digits, c.to_sink);
  }
}

TEST_F(LoggingTest, ThresholdSettersKeepMinimumAndClamp) {
  LogToDebug(kInfo);
  CaptureSink(kVerbose);
  EXPECT_EQ(LogMinSeverity(), kVerbose);
  LogToStream(std::make_unique<StringSink>(sink_), kError);
  EXPECT_EQ(LogMinSeverity(), kInfo);

  // A null stream turns the sink off whatever severity comes with it.
  LogToStream(nullptr, kSensitive);
  EXPECT_EQ(LogStreamSeverity(), kLogOff);
  EXPECT_EQ(LogMinSeverity(), kInfo);

  LogToDebug(static_cast<LogSeverity>(9));
  EXPECT_EQ(LogDebugSeverity(), kLogOff);
  LogToDebug(static_cast<LogSeverity>(-3));
  EXPECT_EQ(LogDebugSeverity(), kSensitive);
}

TEST_F(LoggingTest, OffThresholdIgnoresOutOfRangeSeverities) {
  // Severity values of 5 and above pass the cheap test against an "off" minimum; the outputs
  // must still record nothing.
  LOG_V(kLogOff) << "x";
  LOG_V(7) << "y";
  EXPECT_EQ(console_, "");

  LogToDebug(kError);
  const int unknown_line = __LINE__ + 1;
  LOG_V(7) << "y";
  EXPECT_EQ(console_, "<unknown>(logging_test.cc:" + std::to_string(unknown_line) + "): y\n");
}

TEST_F(LoggingTest, LineLayout) {
  LogToDebug(kSensitive);
  struct Case {
    const char* file;
    int line;
    LogSeverity severity;
    std::string expected;
  };
  const Case cases[] = {
      {"src/base/a.cc", 10, kSensitive, "hello 42\n"},
      {"src/base/a.cc", 10, kVerbose, "hello 42\n"},
      {"src/base/a.cc", 10, kInfo, "hello 42\n"},
      {"src/base/a.cc", 1061, kWarning, "Warning(a.cc:1061): hello 42\n"},
      {"/abs/dir/b.cc", 7, kError, "Error(b.cc:7): hello 42\n"},
      {"C:\\dir\\win.cc", 3, kError, "Error(win.cc:3): hello 42\n"},
      {"plain.cc", 5, kWarning, "Warning(plain.cc:5): hello 42\n"},
  };
  for (const Case& c : cases) {
    console_.clear();
    LogEntry(c.file, c.line, c.severity).stream() << "hello " << 42;
    EXPECT_EQ(console_, c.expected) << c.file << " " << c.severity;
  }

  console_.clear();
  const int macro_line = __LINE__ + 1;
  LOG(kWarning) << "from the macro";
  EXPECT_EQ(console_,
            "Warning(logging_test.cc:" + std::to_string(macro_line) + "): from the macro\n");
}

TEST_F(LoggingTest, SeverityNames) {
  const std::pair<int, std::string> cases[] = {
      {0, "Sensitive"}, {1, "Verbose"},   {2, "Info"},       {3, "Warning"},
      {4, "Error"},     {5, "<unknown>"}, {-1, "<unknown>"},
  };
  for (const auto& [severity, name] : cases) EXPECT_EQ(LogSeverityName(severity), name);
}

TEST_F(LoggingTest, ErrorSuffix) {
  LogToDebug(kSensitive);
  struct Case {
    LogErrorKind kind;
    uint32_t code;
    std::string expected;
  };
  const Case cases[] = {
      {kLogErrorCode, 10035, "x : [0x00002733] operation would block\n"},
      {kLogErrorCode, 10054, "x : [0x00002746] connection reset by peer\n"},
      {kLogErrorCode, 0x80090328u, "x : [0x80090328] certificate has expired\n"},
      // No text known: only the number.
      {kLogErrorCode, 5, "x : [0x00000005]\n"},
      {kLogErrorErrno, ENOENT, std::string("x : [0x00000002] ") + std::strerror(ENOENT) + "\n"},
      {kLogErrorNone, 10035, "x\n"},
  };
  for (const Case& c : cases) {
    console_.clear();
    LogEntry("f.cc", 1, kInfo, c.kind, c.code).stream() << "x";
    EXPECT_EQ(console_, c.expected);
  }
}

TEST_F(LoggingTest, ErrorMacrosTakeCodeAndKeepErrno) {
  LogToDebug(kSensitive);
  errno = EACCES;
  LOG_ERRNO(kInfo) << "open";
  EXPECT_EQ(errno, EACCES);
  LOG_ERR(kVerbose, 10061) << "connect";
  EXPECT_EQ(console_, std::string("open : [0x0000000d] ") + std::strerror(EACCES) +
                          "\nconnect : [0x0000274d] connection refused\n");
}

TEST_F(LoggingTest, TimestampFormat) {
  const std::pair<int64_t, std::string> cases[] = {
      {0, "[000:000] "},     {7, "[000:007] "},        {999, "[000:999] "},
      {12045, "[012:045] "}, {1234567, "[1234:567] "}, {-5, "[000:000] "},
  };
  for (const auto& [elapsed, text] : cases) EXPECT_EQ(FormatLogTimestamp(elapsed), text);
}

TEST_F(LoggingTest, TimestampThenThreadIdPrefix) {
  LogToDebug(kVerbose);
  LogTimestamps(true);
  LogThreads(true);
  LOG(kWarning) << "hi";
  char tid[32];
  std::snprintf(tid, sizeof(tid), "%lx", static_cast<unsigned long>(gettid()));
  EXPECT_TRUE(
      Matches(console_, "[#:#] [" + std::string(tid) + "] Warning(logging_test.cc:#): hi\n"))
      << console_;

  console_.clear();
  LogTimestamps(false);
  LOG(kInfo) << "hi";
  EXPECT_EQ(console_, "[" + std::string(tid) + "] hi\n");
}

TEST_F(LoggingTest, ConsoleDefaultsToStandardError) {
  SetLogConsoleSink(nullptr);
  LogToDebug(kInfo);
  testing::internal::CaptureStderr();
  LOG(kInfo) << "to stderr";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr\n");
}

TEST_F(LoggingTest, SinkGetsWholeLinesThroughShortWrites) {
  CaptureSink(kVerbose, /*chunk=*/3);
  LOG(kInfo) << "a line longer than a chunk";
  const int error_line = __LINE__ + 1;
  LOG(kError) << "second";
  EXPECT_EQ(*sink_, "a line longer than a chunk\nError(logging_test.cc:" +
                        std::to_string(error_line) + "): second\n");
}

TEST_F(LoggingTest, FailingSinkDoesNotStopConsole) {
  class FailingSink : public StringSink {
   public:
    using StringSink::StringSink;
    StreamResult Write(const void*, size_t, size_t*, int* error) override {
      if (error) *error = ENOSPC;
      return SR_ERROR;
    }
  };
  LogToDebug(kInfo);
  LogToStream(std::make_unique<FailingSink>(sink_), kInfo);
  LOG(kInfo) << "still here";
  EXPECT_EQ(console_, "still here\n");
}

TEST_F(LoggingTest, SinkThatLogsDoesNotDeadlock) {
  // A sink that logs from Write (a socket stream with its own statements, say) must not wait
  // for the lock its own thread holds; its line is dropped.
  class LoggingSink : public StringSink {
   public:
    using StringSink::StringSink;
    StreamResult Write(const void* data, size_t length, size_t* written, int* error) override {
      LOG(kError) << "from inside the sink";
      return StringSink::Write(data, length, written, error);
    }
  };
  LogToStream(std::make_unique<LoggingSink>(sink_), kInfo);
  LOG(kInfo) << "outer";
  EXPECT_EQ(*sink_, "outer\n");
}

TEST_F(LoggingTest, ReplacedSinkIsDestroyedAndMayLogOnTheWayOut) {
  class ClosingSink : public StringSink {
   public:
    ClosingSink(std::shared_ptr<std::string> text, bool* destroyed)
        : StringSink(std::move(text)), destroyed_(destroyed) {}
    ~ClosingSink() override {
      *destroyed_ = true;
      LOG(kInfo) << "old sink closed";
    }

   private:
    bool* destroyed_;
  };
  bool destroyed = false;
  auto old_text = std::make_shared<std::string>();
  LogToStream(std::make_unique<ClosingSink>(old_text, &destroyed), kInfo);
  LOG(kInfo) << "one";
  CaptureSink(kInfo);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(*old_text, "one\n");
  EXPECT_EQ(*sink_, "old sink closed\n");
}

TEST_F(LoggingTest, ErrorNameFromTable) {
  const ErrorNameEntry table[] = {
      {0x80090308u, "SEC_E_INVALID_TOKEN"}, {0x00090312u, "SEC_I_CONTINUE_NEEDED"}, {0, nullptr}};
  EXPECT_EQ(ErrorName(0, table), "No error");
  EXPECT_EQ(ErrorName(0x80090308u, table), "SEC_E_INVALID_TOKEN");
  EXPECT_EQ(ErrorName(0x00090312u, table), "SEC_I_CONTINUE_NEEDED");
  EXPECT_EQ(ErrorName(0x1234, table), "0x00001234");
  EXPECT_EQ(ErrorName(0x80090300u, table), "0x80090300");
  EXPECT_EQ(ErrorName(7, nullptr), "0x00000007");
}

TEST_F(LoggingTest, SinkSwitchedWhileThreadsLog) {
  constexpr int kWriters = 4;
  constexpr int kPerRound = 4;  // statements per writer and round, to bound the work
  std::atomic<bool> stop{false};
  std::atomic<int> round_now{-1};
  std::atomic<int> progress{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < kWriters; ++t) {
    writers.emplace_back([t, &stop, &round_now, &progress] {
      int seen_round = -1;
      int done = 0;
      for (int i = 0; !stop.load(std::memory_order_relaxed);) {
        const int r = round_now.load(std::memory_order_relaxed);
        if (r != seen_round) {
          seen_round = r;
          done = 0;
        }
        if (done == kPerRound) {
          std::this_thread::yield();
          continue;
        }
        LOG(kInfo) << "thread " << t << " line " << i << " end";
        LOG_ERR(kWarning, 10054) << "thread " << t << " warn " << i;
        ++i;
        ++done;
        progress.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  std::vector<std::shared_ptr<std::string>> texts;
  for (int round = 0; round < 1000; ++round) {
    // The writers start on this round's statements while the outputs are being switched.
    const int target = progress.load(std::memory_order_relaxed) + kWriters * kPerRound / 2;
    round_now.store(round, std::memory_order_relaxed);
    if (round % 3 == 2) {
      LogToStream(nullptr, kInfo);
    } else {
      texts.push_back(std::make_shared<std::string>());
      // Small chunks make every line several writes, so any interleaving would show.
      LogToStream(std::make_unique<StringSink>(texts.back(), 5), round % 2 ? kInfo : kWarning);
    }
    LogToDebug(round % 4 == 0 ? kInfo : kLogOff);
    LogTimestamps(round % 5 == 0);
    LogThreads(round % 7 == 0);
    while (progress.load(std::memory_order_relaxed) < target) std::this_thread::yield();
  }
  stop = true;
  for (std::thread& writer : writers) writer.join();
  ResetLogging();

  size_t total = console_.size();
  for (const auto& text : texts) total += text->size();
  EXPECT_GT(total, 0u);
  auto whole_line = [](std::string_view line) {
    for (const char* prefix : {"", "[#:#] ", "[%] ", "[#:#] [%] "}) {
      for (const char* body : {"thread # line # end",
                               "Warning(logging_test.cc:#): thread # warn # : [0x00002746] "
                               "connection reset by peer"}) {
        if (Matches(line, std::string(prefix) + body)) return true;
      }
    }
    return false;
  };
  for (const auto& text : texts) {
    ASSERT_TRUE(text->empty() || text->back() == '\n');
    for (const std::string& piece : SplitLines(*text)) ASSERT_TRUE(whole_line(piece)) << piece;
  }
  for (const std::string& piece : SplitLines(console_)) {
    ASSERT_TRUE(whole_line(piece)) << piece;
  }
}

// FileStream, the stream the log file is written through.

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::path(testing::TempDir()) /
            ("filestream_" + std::to_string(getpid()) + "_" +
             testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove(path_);
  }
  void TearDown() override { std::filesystem::remove(path_); }

  std::filesystem::path path_;
};

TEST_F(FileStreamTest, WriteThenReadBack) {
  FileStream out;
  EXPECT_EQ(out.GetState(), STREAM_CLOSED);
  ASSERT_TRUE(out.Open(path_, "wb"));
  EXPECT_EQ(out.GetState(), STREAM_OPEN);
  size_t written = 0;
  EXPECT_EQ(out.WriteAll("hello\nworld", 11, &written, nullptr), SR_SUCCESS);
  EXPECT_EQ(written, 11u);
  size_t size = 0;
  // Counts what still sits in the C library's buffer.
  ASSERT_TRUE(out.GetSize(&size));
  EXPECT_EQ(size, 11u);
  out.Close();
  EXPECT_EQ(out.GetState(), STREAM_CLOSED);

  FileStream in;
  ASSERT_TRUE(in.Open(path_, "rb"));
  char buffer[8];
  size_t read = 0;
  EXPECT_EQ(in.Read(buffer, 8, &read, nullptr), SR_SUCCESS);
  EXPECT_EQ(std::string(buffer, read), "hello\nwo");
  // A short read at the end returns what is there; only an empty one is the end.
  EXPECT_EQ(in.Read(buffer, 8, &read, nullptr), SR_SUCCESS);
  EXPECT_EQ(std::string(buffer, read), "rld");
  EXPECT_EQ(in.Read(buffer, 8, &read, nullptr), SR_EOS);

  ASSERT_TRUE(in.SetPosition(6));
  std::string line;
  EXPECT_EQ(in.ReadLine(&line), SR_SUCCESS);
  EXPECT_EQ(line, "world");
  ASSERT_TRUE(in.Rewind());
  EXPECT_EQ(in.ReadLine(&line), SR_SUCCESS);
  EXPECT_EQ(line, "hello");
}

TEST_F(FileStreamTest, Failures) {
  FileStream stream;
  int error = 0;
  EXPECT_FALSE(stream.Open(path_ / "missing" / "file", "rb", &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(stream.GetState(), STREAM_CLOSED);

  char byte = 'x';
  error = 0;
  EXPECT_EQ(stream.Write(&byte, 1, nullptr, &error), SR_ERROR);
  EXPECT_EQ(error, EBADF);
  EXPECT_EQ(stream.Read(&byte, 1, nullptr, &error), SR_ERROR);
  EXPECT_FALSE(stream.GetSize(nullptr));

  // Reading a file opened only for writing fails, and is not mistaken for the end.
  ASSERT_TRUE(stream.Open(path_, "wb"));
  error = 0;
  EXPECT_EQ(stream.Read(&byte, 1, nullptr, &error), SR_ERROR);
  EXPECT_EQ(error, EBADF);
}

TEST_F(FileStreamTest, CarriesLogLines) {
  ResetLogging();
  auto file = std::make_unique<FileStream>();
  ASSERT_TRUE(file->Open(path_, "wb"));
  LogToStream(std::move(file), kInfo);
  LOG(kInfo) << "first";
  LOG(kVerbose) << "dropped";
  const int last_line = __LINE__ + 1;
  LOG_ERR(kError, 10060) << "last";
  ResetLogging();  // closes the file

  FileStream in;
  ASSERT_TRUE(in.Open(path_, "rb"));
  std::vector<std::string> lines;
  std::string line;
  while (in.ReadLine(&line) == SR_SUCCESS) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "first");
  EXPECT_EQ(lines[1], "Error(logging_test.cc:" + std::to_string(last_line) +
                          "): last : [0x0000274c] connection timed out");
}

// Traffic formatting.

TEST(TrafficLogTest, TextLines) {
  struct Case {
    TrafficDirection direction;
    std::string data;
    std::vector<std::string> lines;
  };
  const auto kIn = TrafficDirection::kReceived;
  const auto kOut = TrafficDirection::kSent;
  const Case cases[] = {
      {kOut,
       "GET / HTTP/1.1\r\nHost: x\r\n\r\n",
       {"[web] >> GET / HTTP/1.1", "[web] >> Host: x", "[web] >> "}},
      {kIn, "a\nb", {"[web] << a", "[web] << b"}},
      {kIn, "", {}},
      {kIn, "\n", {"[web] << "}},
      {kIn, "\n\n", {"[web] << ", "[web] << "}},
      // Only a carriage return right before a line feed goes.
      {kIn, "a\r", {"[web] << a\r"}},
      {kIn, "a\r\r\nb\rc", {"[web] << a\r", "[web] << b\rc"}},
      {kOut, "user=me&Passwd=secret\nok", {"[web] >> ## TEXT REMOVED ##", "[web] >> ok"}},
      {kIn, "xEmailx\r\n", {"[web] << ## TEXT REMOVED ##"}},
      {kOut, "CONNECT a:1 HTTP/1.0\r\nProxy-Authorization: Basic YTpi\r\n",
       {"[web] >> CONNECT a:1 HTTP/1.0", "[web] >> ## TEXT REMOVED ##"}},
      // Case-sensitive, as the form fields are.
      {kOut, "email=a passwd=b", {"[web] >> email=a passwd=b"}},
      {kIn, std::string("nul\0byte", 8), {std::string("[web] << nul\0byte", 17)}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatTrafficText("web", c.direction, c.data), c.lines) << c.data;
  }
}

TEST(TrafficLogTest, BinaryRows) {
  const std::string blank_group = "         ";  // 8 hex digits and the group space
  struct Case {
    std::string data;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"0123456789abcdefghijklmn",
       {"[b] << 0123456789abcdefghijklmn "
        "30313233 34353637 38396162 63646566 6768696a 6b6c6d6e  "}},
      {std::string("AB\0\x7f\x80\xff\n", 7),
       {"[b] << AB.....                  "
        "4142007f 80ff0a   " +
        blank_group + blank_group + blank_group + blank_group + " "}},
      {"0123456789abcdefghijklmnop",
       {"[b] << 0123456789abcdefghijklmn "
        "30313233 34353637 38396162 63646566 6768696a 6b6c6d6e  ",
        "[b] << op                       "
        "6f70     " +
            blank_group + blank_group + blank_group + blank_group + blank_group + " "}},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> lines =
        FormatTrafficBinary("b", TrafficDirection::kReceived, c.data);
    EXPECT_EQ(lines, c.lines);
    for (const std::string& line : lines) EXPECT_EQ(line.size(), lines.front().size());
  }
  EXPECT_EQ(FormatTrafficBinary("b", TrafficDirection::kSent, "x").front().substr(0, 7), "[b] >> ");
}

TEST_F(LoggingTest, TrafficGoesThroughTheLogger) {
  CaptureSink(kVerbose);
  const char data[] = "line one\r\nPasswd=x\n";
  LogTraffic(kSensitive, "sock", TrafficDirection::kReceived, data, sizeof(data) - 1, false);
  EXPECT_EQ(*sink_, "");
  LogTraffic(kVerbose, "sock", TrafficDirection::kReceived, data, sizeof(data) - 1, false);
  LogTraffic(kVerbose, "sock", TrafficDirection::kSent, "\x01", 1, true);
  EXPECT_EQ(*sink_, "[sock] << line one\n[sock] << ## TEXT REMOVED ##\n" +
                        FormatTrafficBinary("sock", TrafficDirection::kSent, "\x01").front() +
                        "\n");
}

}  // namespace
}  // namespace vexalo
