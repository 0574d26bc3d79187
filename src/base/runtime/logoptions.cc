#include "base/runtime/logoptions.h"

#include <cstdio>
#include <utility>

#include "base/http/datastream.h"

namespace vexalo {

namespace {

// An option string comes from the command line; its echo in the log stays short.
constexpr size_t kMaxUnknownText = 200;

bool ParseSeverityWord(std::string_view word, LogSeverity* severity) {
  static constexpr struct {
    std::string_view word;
    LogSeverity severity;
  } kWords[] = {
      {"sensitive", kSensitive}, {"verbose", kVerbose}, {"info", kInfo},
      {"warning", kWarning},     {"error", kError},     {"none", kLogOff},
  };
  for (const auto& entry : kWords) {
    if (word == entry.word) {
      *severity = entry.severity;
      return true;
    }
  }
  return false;
}

bool IsSwitch(std::string_view word) { return word.starts_with('/') || word.starts_with("--"); }

void AppendUnknown(std::string_view word, std::string* text) {
  if (text->size() >= kMaxUnknownText) {
    if (!text->ends_with("...")) text->append("...");
    return;
  }
  if (!text->empty()) text->push_back(' ');
  for (unsigned char c : word) {
    if (text->size() >= kMaxUnknownText) {
      text->append("...");
      return;
    }
    if (c >= 0x20 && c < 0x7f) {
      text->push_back(static_cast<char>(c));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02x", c);
      text->append(escaped);
    }
  }
}

}  // namespace

LogOptions CurrentLogOptions() {
  LogOptions options;
  options.debug_severity = LogDebugSeverity();
  options.stream_severity = LogStreamSeverity();
  options.timestamps = LogTimestampsOn();
  options.thread_ids = LogThreadsOn();
  return options;
}

LogOptions ParseLogOptions(std::string_view text, LogOptions start) {
  LogOptions options = std::move(start);
  options.unknown_words.clear();
  LogSeverity current = kVerbose;
  for (;;) {
    const size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    if (word.empty() || IsSwitch(word)) break;

    if (ParseSeverityWord(word, &current)) {
      // Applies to the words that follow.
    } else if (word == "file") {
      options.stream_severity = current;
      options.sink = LogSinkKind::kFile;
    } else if (word == "debug") {
      options.debug_severity = current;
    } else if (word == "tstamp") {
      options.timestamps = true;
    } else if (word == "thread") {
      options.thread_ids = true;
    } else if (word == "diag") {
      options.stream_severity = current;
      options.sink = LogSinkKind::kDiag;
      options.timestamps = true;
      options.thread_ids = true;
    } else {
      AppendUnknown(word, &options.unknown_words);
    }

    if (space == std::string_view::npos) break;
    text.remove_prefix(space + 1);
  }
  return options;
}

void ApplyLogOptions(const LogOptions& options, std::unique_ptr<DataStream> sink) {
  LogTimestamps(options.timestamps);
  LogThreads(options.thread_ids);
  LogToDebug(options.debug_severity);
  const LogSeverity stream_severity = sink ? options.stream_severity : kLogOff;
  LogToStream(std::move(sink), stream_severity);
  if (!options.unknown_words.empty()) {
    LOG(kWarning) << "Ignoring unknown log options: " << options.unknown_words;
  }
}

}  // namespace vexalo
