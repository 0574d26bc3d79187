#include "base/runtime/logging.h"

#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <locale>
#include <mutex>
#include <utility>

#include "base/http/datastream.h"
#include "base/runtime/timeutils.h"

namespace vexalo {

namespace log_internal {
std::atomic<int> g_min_severity{kLogOff};
}  // namespace log_internal

namespace {

std::atomic<int> g_debug_severity{kLogOff};
std::atomic<int> g_stream_severity{kLogOff};
std::atomic<bool> g_timestamps{false};
std::atomic<bool> g_thread_ids{false};

// The sink and the console hook. The lock is held while a line is written as well as while
// an output is switched, so that no sink is destroyed under a writer and whole lines never
// interleave.
struct Outputs {
  std::mutex lock;
  std::unique_ptr<DataStream> stream;
  LogConsoleSink console;
};

// Never destroyed: destructors of other static objects may still log during exit.
Outputs& GetOutputs() {
  static Outputs* outputs = new Outputs;
  return *outputs;
}

Tick StartTick() {
  static const Tick start = TickNow();
  return start;
}
// Takes the start tick during static initialisation rather than at the first log line.
[[maybe_unused]] const Tick g_start_tick = StartTick();

// Set while this thread writes a line. A sink or console hook that logs would deadlock on the
// lock; its lines are dropped instead.
thread_local bool t_writing = false;

class WritingScope {
 public:
  WritingScope() { t_writing = true; }
  ~WritingScope() { t_writing = false; }
  WritingScope(const WritingScope&) = delete;
  WritingScope& operator=(const WritingScope&) = delete;
};

int ClampThreshold(int severity) { return std::clamp<int>(severity, kSensitive, kLogOff); }

// Called with the lock held, so that two setters cannot leave a stale minimum behind.
void UpdateMinSeverity() {
  log_internal::g_min_severity.store(std::min(g_debug_severity.load(std::memory_order_relaxed),
                                              g_stream_severity.load(std::memory_order_relaxed)),
                                     std::memory_order_relaxed);
}

bool Reaches(int severity, int threshold) { return threshold < kLogOff && severity >= threshold; }

void Emit(int severity, std::string_view line) {
  if (t_writing) return;
  WritingScope writing;
  Outputs& outputs = GetOutputs();
  std::lock_guard<std::mutex> hold(outputs.lock);
  if (Reaches(severity, g_debug_severity.load(std::memory_order_relaxed))) {
    if (outputs.console) {
      outputs.console(line);
    } else {
      std::fwrite(line.data(), 1, line.size(), stderr);
      std::fflush(stderr);
    }
  }
  if (outputs.stream && Reaches(severity, g_stream_severity.load(std::memory_order_relaxed))) {
    // Errors are ignored: there is nowhere left to report them.
    outputs.stream->WriteAll(line.data(), line.size(), nullptr, nullptr);
  }
}

const char* FileBaseName(const char* path) {
  if (!path) return "";
  const char* base = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}

// strerror_r comes in a GNU flavour returning the text and a POSIX flavour returning a status.
[[maybe_unused]] const char* StrErrorResult(const char* text, const char* /*buffer*/) {
  return text;
}
[[maybe_unused]] const char* StrErrorResult(int status, const char* buffer) {
  return status == 0 ? buffer : nullptr;
}

struct ErrorText {
  uint32_t code;
  const char* text;
};

// Our own error numbers (the socket codes errno is mapped onto at the platform edge, and the
// certificate results of the TLS layer).
constexpr ErrorText kErrorTexts[] = {
    {1247, "already initialised"},
    {10013, "permission denied"},
    {10022, "invalid argument"},
    {10035, "operation would block"},
    {10036, "operation now in progress"},
    {10037, "operation already in progress"},
    {10038, "not a socket"},
    {10040, "message too long"},
    {10048, "address already in use"},
    {10049, "address not available"},
    {10050, "network is down"},
    {10051, "network is unreachable"},
    {10053, "connection aborted"},
    {10054, "connection reset by peer"},
    {10055, "no buffer space available"},
    {10056, "socket is already connected"},
    {10057, "socket is not connected"},
    {10058, "socket has been shut down"},
    {10060, "connection timed out"},
    {10061, "connection refused"},
    {10064, "host is down"},
    {10065, "no route to host"},
    {11001, "host not found"},
    {0x80090322u, "certificate name does not match the host"},
    {0x80090325u, "certificate is not trusted"},
    {0x80090328u, "certificate has expired"},
};

const char* ErrorCodeText(uint32_t code) {
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

}  // namespace

const char* LogSeverityName(int severity) {
  switch (severity) {
    case kSensitive:
      return "Sensitive";
    case kVerbose:
      return "Verbose";
    case kInfo:
      return "Info";
    case kWarning:
      return "Warning";
    case kError:
      return "Error";
    default:
      return "<unknown>";
  }
}

void LogToDebug(LogSeverity severity) {
  std::lock_guard<std::mutex> hold(GetOutputs().lock);
  g_debug_severity.store(ClampThreshold(severity), std::memory_order_relaxed);
  UpdateMinSeverity();
}

void LogToStream(std::unique_ptr<DataStream> stream, LogSeverity severity) {
  Outputs& outputs = GetOutputs();
  {
    std::lock_guard<std::mutex> hold(outputs.lock);
    g_stream_severity.store(stream ? ClampThreshold(severity) : kLogOff, std::memory_order_relaxed);
    outputs.stream.swap(stream);
    UpdateMinSeverity();
  }
  // `stream` now holds the old sink. It is destroyed without the lock, since closing it may log.
}

void LogTimestamps(bool on) { g_timestamps.store(on, std::memory_order_relaxed); }
void LogThreads(bool on) { g_thread_ids.store(on, std::memory_order_relaxed); }

LogSeverity LogMinSeverity() {
  return static_cast<LogSeverity>(log_internal::g_min_severity.load(std::memory_order_relaxed));
}
LogSeverity LogDebugSeverity() {
  return static_cast<LogSeverity>(g_debug_severity.load(std::memory_order_relaxed));
}
LogSeverity LogStreamSeverity() {
  return static_cast<LogSeverity>(g_stream_severity.load(std::memory_order_relaxed));
}
bool LogTimestampsOn() { return g_timestamps.load(std::memory_order_relaxed); }
bool LogThreadsOn() { return g_thread_ids.load(std::memory_order_relaxed); }

void SetLogConsoleSink(LogConsoleSink sink) {
  Outputs& outputs = GetOutputs();
  std::lock_guard<std::mutex> hold(outputs.lock);
  outputs.console.swap(sink);
}

void ResetLogging() {
  LogToStream(nullptr, kLogOff);
  LogToDebug(kLogOff);
  LogTimestamps(false);
  LogThreads(false);
  SetLogConsoleSink(nullptr);
}

std::string ErrorName(uint32_t code, const ErrorNameEntry* table) {
  if (code == 0) return "No error";
  for (const ErrorNameEntry* entry = table; entry && entry->name; ++entry) {
    if (entry->code == code) return entry->name;
  }
  char text[24];
  std::snprintf(text, sizeof(text), "0x%08lx", static_cast<unsigned long>(code));
  return text;
}

std::string FormatLogTimestamp(int64_t elapsed_ms) {
  if (elapsed_ms < 0) elapsed_ms = 0;
  char text[48];
  std::snprintf(text, sizeof(text), "[%03" PRId64 ":%03" PRId64 "] ", elapsed_ms / 1000,
                elapsed_ms % 1000);
  return text;
}

LogEntry::LogEntry(const char* file, int line, LogSeverity severity, LogErrorKind error_kind,
                   uint32_t error_code)
    : severity_(severity), error_kind_(error_kind), error_code_(error_code) {
  // Log files are read by tools; numbers must not depend on the user's locale.
  stream_.imbue(std::locale::classic());
  if (g_timestamps.load(std::memory_order_relaxed)) {
    stream_ << FormatLogTimestamp(TickDiff(TickNow(), StartTick()));
  }
  if (g_thread_ids.load(std::memory_order_relaxed)) {
    char text[32];
    std::snprintf(text, sizeof(text), "[%lx] ", static_cast<unsigned long>(gettid()));
    stream_ << text;
  }
  if (severity_ >= kLogLocationSeverity) {
    stream_ << LogSeverityName(severity_) << '(' << FileBaseName(file) << ':' << line << "): ";
  }
}

LogEntry::~LogEntry() {
  // A caller may still look at errno after logging it.
  const int saved_errno = errno;
  if (error_kind_ != kLogErrorNone) {
    char text[24];
    std::snprintf(text, sizeof(text), " : [0x%08" PRIx32 "]", error_code_);
    stream_ << text;
    const char* description = nullptr;
    char buffer[256];
    if (error_kind_ == kLogErrorErrno) {
      buffer[0] = '\0';
      description =
          StrErrorResult(strerror_r(static_cast<int>(error_code_), buffer, sizeof(buffer)), buffer);
    } else if (error_kind_ == kLogErrorCode) {
      description = ErrorCodeText(error_code_);
    }
    if (description && *description) stream_ << ' ' << description;
  }
  stream_ << '\n';
  Emit(severity_, stream_.view());
  errno = saved_errno;
}

std::string PrintableText(std::string_view text, size_t max_bytes) {
  std::string out;
  for (unsigned char c : text.substr(0, max_bytes)) {
    if (c < 0x20 || c == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02x", c);
      out += escaped;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  if (text.size() > max_bytes) out += "...";
  return out;
}

}  // namespace vexalo
