#pragma once

// The process-wide logger.
//
//   LOG(kInfo) << "Connecting to " << address;
//   LOG_ERRNO(kWarning) << "open failed";          // appends errno and its text
//   LOG_ERR(kError, error) << "connect failed";    // appends one of our own error numbers
//   LOG_V(severity) << "...";                      // severity known only at run time
//
// A statement below the current minimum severity costs one relaxed atomic load and a
// comparison; neither the entry nor the streamed values are evaluated. By default every
// threshold is off, so nothing is logged until LogToDebug or LogToStream switch an output on.

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>

namespace vexalo {

class DataStream;

enum LogSeverity : int {
  kSensitive = 0,  // may carry personal data (message bodies, XML traffic)
  kVerbose = 1,
  kInfo = 2,
  kWarning = 3,
  kError = 4,
};

// Only a threshold: an output at this level records nothing.
inline constexpr LogSeverity kLogOff = static_cast<LogSeverity>(5);

// Statements at this severity or above carry the "Name(file:line): " prefix.
inline constexpr LogSeverity kLogLocationSeverity = kWarning;

enum LogErrorKind : int {
  kLogErrorNone = 0,
  kLogErrorErrno = 1,  // a C library errno value
  kLogErrorCode = 2,   // one of our own error numbers (socket codes such as 10035)
};

// "Sensitive" ... "Error", or "<unknown>" for any other value.
const char* LogSeverityName(int severity);

// Switches the console output (standard error) to `severity` and above; kLogOff turns it off.
void LogToDebug(LogSeverity severity);
// Replaces the sink (the old one is destroyed) and sets its threshold. A null stream turns the
// sink off whatever `severity` says. Safe while other threads log.
void LogToStream(std::unique_ptr<DataStream> stream, LogSeverity severity);
void LogTimestamps(bool on);
void LogThreads(bool on);

LogSeverity LogMinSeverity();
LogSeverity LogDebugSeverity();
LogSeverity LogStreamSeverity();
bool LogTimestampsOn();
bool LogThreadsOn();

// Takes the place of standard error for the console output (tests capture lines with it);
// a null function restores standard error. Called with the logger's lock held, once per line.
using LogConsoleSink = std::function<void(std::string_view line)>;
void SetLogConsoleSink(LogConsoleSink sink);

// Back to the start-up state: both outputs off, no sink, no prefixes, standard error as console.
void ResetLogging();

struct ErrorNameEntry {
  uint32_t code;
  const char* name;  // null ends the table
};
// "No error" for 0, the name from `table`, otherwise the code as "0x%08lx".
std::string ErrorName(uint32_t code, const ErrorNameEntry* table);

// "[SSS:mmm] " for a time since start-up, at least three digits of seconds.
std::string FormatLogTimestamp(int64_t elapsed_ms);

// Text from outside (the network, the command line) made safe for one log or message line: at
// most `max_bytes` of it, control bytes and DEL as \xNN, "..." when cut.
std::string PrintableText(std::string_view text, size_t max_bytes);

// One statement. The prefix is built on construction, the line is emitted on destruction.
class LogEntry {
 public:
  LogEntry(const char* file, int line, LogSeverity severity,
           LogErrorKind error_kind = kLogErrorNone, uint32_t error_code = 0);
  ~LogEntry();
  LogEntry(const LogEntry&) = delete;
  LogEntry& operator=(const LogEntry&) = delete;

  std::ostream& stream() { return stream_; }

 private:
  std::ostringstream stream_;
  LogSeverity severity_;
  LogErrorKind error_kind_;
  uint32_t error_code_;
};

namespace log_internal {

// min(debug threshold, stream threshold); the only state the fast path reads.
extern std::atomic<int> g_min_severity;

inline bool IsOn(LogSeverity severity) {
  return g_min_severity.load(std::memory_order_relaxed) <= severity;
}

// Turns the stream expression into void so that it fits the other branch of ?:. The & binds
// more loosely than << and more tightly than ?:.
struct Voidify {
  void operator&(std::ostream&) {}
};

}  // namespace log_internal
}  // namespace vexalo

// A conditional expression rather than an if, so that an else after the statement binds to
// the caller's if.
#define VEXALO_LOG_ENTRY(severity, ...)     \
  !::vexalo::log_internal::IsOn(severity)   \
      ? (void)0                             \
      : ::vexalo::log_internal::Voidify() & \
            ::vexalo::LogEntry(__FILE__, __LINE__, severity __VA_OPT__(, ) __VA_ARGS__).stream()

#define LOG(sev) VEXALO_LOG_ENTRY(::vexalo::sev)
#define LOG_V(severity) VEXALO_LOG_ENTRY(static_cast<::vexalo::LogSeverity>(severity))
#define LOG_ERRNO(sev) VEXALO_LOG_ENTRY(::vexalo::sev, ::vexalo::kLogErrorErrno, errno)
#define LOG_ERR(sev, code) \
  VEXALO_LOG_ENTRY(::vexalo::sev, ::vexalo::kLogErrorCode, static_cast<uint32_t>(code))
