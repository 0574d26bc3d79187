#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vexalo {

// Codes of the hand-over record that a second start sends to the running instance.
inline constexpr uint32_t kCopyDataMailto = 1;      // the text after "/mailto"
inline constexpr uint32_t kCopyDataLogOptions = 2;  // diagnostic-log option words
// Requests of our own on the same socket (the window messages of a desktop with windows).
inline constexpr uint32_t kInstanceRestore = 0x100;  // show and raise the main window
inline constexpr uint32_t kInstanceClose = 0x101;    // close the main window; the process ends
inline constexpr uint32_t kInstancePing = 0x102;     // answered once the main loop runs

// The hand-over record on the socket: "VXH1", code and text length as 32-bit little-endian
// numbers, then the text. The answer is one 32-bit little-endian number, 0 when the record
// was handled. One record per connection.
inline constexpr char kHandOverMagic[4] = {'V', 'X', 'H', '1'};
inline constexpr size_t kHandOverHeaderBytes = 12;
inline constexpr size_t kMaxHandOverText = 64 * 1024;
inline constexpr uint32_t kHandOverHandled = 0;
inline constexpr uint32_t kHandOverRejected = 1;

enum class HandOverResult {
  kHandled,
  kRejected,  // the instance answered but did not handle the record
  kNoAnswer,  // the record could not be sent, or no answer came in time
};

const char* HandOverResultName(HandOverResult result);

// A connection to the instance that runs now.
class RunningInstance {
 public:
  explicit RunningInstance(int fd) : fd_(fd) {}
  ~RunningInstance();
  RunningInstance(RunningInstance&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  RunningInstance& operator=(RunningInstance&&) = delete;
  RunningInstance(const RunningInstance&) = delete;

  int fd() const { return fd_; }

 private:
  int fd_;
};

// Connects to the instance listening on `socket_path`; nothing when no process listens there.
std::optional<RunningInstance> FindRunningInstance(const std::string& socket_path,
                                                   int timeout_ms = 2000);

// Sends one record and waits until the instance has handled it, at most `timeout_ms`.
HandOverResult HandOver(RunningInstance instance, uint32_t code, std::string_view text,
                        int timeout_ms = 5000);

}  // namespace vexalo
