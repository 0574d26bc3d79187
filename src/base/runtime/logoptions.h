#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/runtime/logging.h"

namespace vexalo {

class DataStream;

enum class LogSinkKind {
  kNone,
  kFile,  // a plain log file
  kDiag,  // the diagnostic capture file
};

// What an option string asks of the logger.
struct LogOptions {
  LogSeverity debug_severity = kLogOff;
  LogSeverity stream_severity = kLogOff;
  LogSinkKind sink = LogSinkKind::kNone;
  bool timestamps = false;
  bool thread_ids = false;
  // The words that meant nothing, space separated, shortened and with control bytes escaped;
  // empty when every word was known.
  std::string unknown_words;
};

// The logger's present settings, the starting point of a parse. The sink kind is kNone: the
// logger does not know what its sink is.
LogOptions CurrentLogOptions();

// Parses words separated by single spaces, for example "info file verbose debug tstamp".
// A severity word sets the severity that the following "file", "debug" or "diag" use; it starts
// at kVerbose. Parsing stops at an empty word or at a word that begins with "/" or "--" (the
// next command-line switch). Unknown words are ignored and collected in `unknown_words`.
LogOptions ParseLogOptions(std::string_view text, LogOptions start = LogOptions());

// Sets the flags and thresholds of `options` on the logger, with `sink` as the stream sink (the
// caller opens it; without one the sink is off). Then logs one warning naming the unknown
// words, if there were any, so that it reaches the outputs just switched on.
void ApplyLogOptions(const LogOptions& options, std::unique_ptr<DataStream> sink);

}  // namespace vexalo
