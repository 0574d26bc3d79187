#include "base/runtime/logoptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "base/http/datastream.h"
#include "base/runtime/logging.h"

namespace vexalo {
namespace {

class StringSink : public DataStream {
 public:
  explicit StringSink(std::shared_ptr<std::string> text) : text_(std::move(text)) {}
  StreamState GetState() const override { return STREAM_OPEN; }
  StreamResult Read(void*, size_t, size_t*, int*) override { return SR_EOS; }
  StreamResult Write(const void* data, size_t length, size_t* written, int*) override {
    text_->append(static_cast<const char*>(data), length);
    if (written) *written = length;
    return SR_SUCCESS;
  }
  void Close() override {}

 private:
  std::shared_ptr<std::string> text_;
};

TEST(LogOptionsTest, ParseWords) {
  constexpr auto kNone = LogSinkKind::kNone;
  constexpr auto kFile = LogSinkKind::kFile;
  constexpr auto kDiag = LogSinkKind::kDiag;
  struct Case {
    std::string text;
    LogSeverity debug;
    LogSeverity stream;
    LogSinkKind sink;
    bool timestamps;
    bool threads;
    std::string unknown;
  };
  const Case cases[] = {
      {"", kLogOff, kLogOff, kNone, false, false, ""},
      // The current severity starts at kVerbose.
      {"file", kLogOff, kVerbose, kFile, false, false, ""},
      {"debug", kVerbose, kLogOff, kNone, false, false, ""},
      {"verbose file", kLogOff, kVerbose, kFile, false, false, ""},
      {"sensitive file", kLogOff, kSensitive, kFile, false, false, ""},
      // Order matters: a severity word applies only to what follows it.
      {"info file verbose debug", kVerbose, kInfo, kFile, false, false, ""},
      {"debug error", kVerbose, kLogOff, kNone, false, false, ""},
      {"warning debug file", kWarning, kWarning, kFile, false, false, ""},
      {"info file none file", kLogOff, kLogOff, kFile, false, false, ""},
      {"tstamp thread", kLogOff, kLogOff, kNone, true, true, ""},
      {"tstamp", kLogOff, kLogOff, kNone, true, false, ""},
      {"warning diag", kLogOff, kWarning, kDiag, true, true, ""},
      {"diag info file", kLogOff, kInfo, kFile, true, true, ""},
      // An empty word ends the options.
      {"info  file", kLogOff, kLogOff, kNone, false, false, ""},
      {" info file", kLogOff, kLogOff, kNone, false, false, ""},
      {"info file ", kLogOff, kInfo, kFile, false, false, ""},
      // So does the next command-line switch.
      {"error debug /switch verbose file", kError, kLogOff, kNone, false, false, ""},
      {"/info file", kLogOff, kLogOff, kNone, false, false, ""},
      {"info debug --quiet file", kInfo, kLogOff, kNone, false, false, ""},
      // Unknown words are skipped, but reported.
      {"bogus info file", kLogOff, kInfo, kFile, false, false, "bogus"},
      {"Info file", kLogOff, kVerbose, kFile, false, false, "Info"},
      {"files debugging", kLogOff, kLogOff, kNone, false, false, "files debugging"},
      {std::string("info\0 file", 10), kLogOff, kVerbose, kFile, false, false, "info\\x00"},
      {"\xc3\xa9rror\tx debug", kVerbose, kLogOff, kNone, false, false, "\\xc3\\xa9rror\\x09x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\"");
    const LogOptions options = ParseLogOptions(c.text);
    EXPECT_EQ(options.debug_severity, c.debug);
    EXPECT_EQ(options.stream_severity, c.stream);
    EXPECT_EQ(options.sink, c.sink);
    EXPECT_EQ(options.timestamps, c.timestamps);
    EXPECT_EQ(options.thread_ids, c.threads);
    EXPECT_EQ(options.unknown_words, c.unknown);
  }
}

TEST(LogOptionsTest, ParseStartsFromGivenValues) {
  LogOptions start;
  start.debug_severity = kInfo;
  start.stream_severity = kError;
  start.sink = LogSinkKind::kFile;
  start.unknown_words = "stale";
  const LogOptions options = ParseLogOptions("tstamp warning debug", start);
  EXPECT_EQ(options.debug_severity, kWarning);
  EXPECT_EQ(options.stream_severity, kError);
  EXPECT_EQ(options.sink, LogSinkKind::kFile);
  EXPECT_TRUE(options.timestamps);
  EXPECT_FALSE(options.thread_ids);
  EXPECT_EQ(options.unknown_words, "");
}

TEST(LogOptionsTest, UnknownWordsStayShort) {
  std::string many;
  for (int i = 0; i < 100000; ++i) many += "junk ";
  const std::string one_long(1 << 20, '\x01');
  for (const std::string& text : {many, one_long, "info " + one_long + " file"}) {
    const LogOptions options = ParseLogOptions(text);
    EXPECT_LE(options.unknown_words.size(), 210u);
    EXPECT_TRUE(options.unknown_words.ends_with("...")) << options.unknown_words;
  }
  // Words after the long one still count.
  EXPECT_EQ(ParseLogOptions("info " + one_long + " file").stream_severity, kInfo);
}

class ApplyLogOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLogging();
    SetLogConsoleSink([this](std::string_view line) { console_ += line; });
  }
  void TearDown() override { ResetLogging(); }

  void Apply(const std::string& text) {
    ApplyLogOptions(ParseLogOptions(text), std::make_unique<StringSink>(sink_));
  }

  std::string console_;
  std::shared_ptr<std::string> sink_ = std::make_shared<std::string>();
};

TEST_F(ApplyLogOptionsTest, VerboseFileKeepsSensitiveOut) {
  Apply("verbose file");
  LOG(kSensitive) << "body";
  LOG(kVerbose) << "verbose";
  LOG(kInfo) << "info";
  EXPECT_EQ(*sink_, "verbose\ninfo\n");
  EXPECT_EQ(console_, "");
}

TEST_F(ApplyLogOptionsTest, SensitiveFileRecordsSensitive) {
  Apply("sensitive file");
  LOG(kSensitive) << "body";
  EXPECT_EQ(*sink_, "body\n");
}

TEST_F(ApplyLogOptionsTest, SetsFlagsAndThresholds) {
  Apply("info debug warning diag");
  EXPECT_EQ(LogDebugSeverity(), kInfo);
  EXPECT_EQ(LogStreamSeverity(), kWarning);
  EXPECT_EQ(LogMinSeverity(), kInfo);
  EXPECT_TRUE(LogTimestampsOn());
  EXPECT_TRUE(LogThreadsOn());

  const LogOptions current = CurrentLogOptions();
  EXPECT_EQ(current.debug_severity, kInfo);
  EXPECT_EQ(current.stream_severity, kWarning);
  EXPECT_TRUE(current.timestamps);
  EXPECT_TRUE(current.thread_ids);

  // Parsing again starts from what is in force.
  EXPECT_EQ(ParseLogOptions("error file", CurrentLogOptions()).debug_severity, kInfo);
}

TEST_F(ApplyLogOptionsTest, NoSinkMeansStreamOff) {
  ApplyLogOptions(ParseLogOptions("info file verbose debug"), nullptr);
  EXPECT_EQ(LogStreamSeverity(), kLogOff);
  EXPECT_EQ(LogDebugSeverity(), kVerbose);
  LOG(kVerbose) << "console only";
  EXPECT_EQ(console_, "console only\n");
}

TEST_F(ApplyLogOptionsTest, UnknownWordsGiveOneWarning) {
  Apply("info file flie dbug");
  // One line: the warning prefix with this library's file and line, then the words.
  const std::string_view text = *sink_;
  EXPECT_TRUE(text.starts_with("Warning(logoptions.cc:")) << text;
  EXPECT_TRUE(text.ends_with("): Ignoring unknown log options: flie dbug\n")) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;

  sink_->clear();
  Apply("info file");
  EXPECT_EQ(*sink_, "");
}

}  // namespace
}  // namespace vexalo
