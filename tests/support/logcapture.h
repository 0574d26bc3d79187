#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/runtime/logging.h"

namespace vexalo {

// Keeps every log line of every thread at `severity` and above while it lives (each without its
// line end). With VEXALO_TEST_LOG set the lines are also echoed to stderr.
class LogCapture {
 public:
  explicit LogCapture(LogSeverity severity = kInfo) {
    const bool echo = getenv("VEXALO_TEST_LOG") != nullptr;
    SetLogConsoleSink([this, echo](std::string_view line) {
      if (echo) fprintf(stderr, "%.*s", static_cast<int>(line.size()), line.data());
      while (!line.empty() && line.back() == '\n') line.remove_suffix(1);
      std::lock_guard<std::mutex> hold(lock_);
      lines_.emplace_back(line);
    });
    LogToDebug(severity);
  }
  ~LogCapture() { ResetLogging(); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // All lines so far, each ended with a line feed.
  std::string text() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::string all;
    for (const std::string& line : lines_) all.append(line).append("\n");
    return all;
  }
  // The lines that contain `text`.
  std::vector<std::string> Matching(std::string_view text) const {
    return Select([text](const std::string& line) { return line.find(text) != std::string::npos; });
  }
  bool Contains(std::string_view text) const { return !Matching(text).empty(); }
  // The lines that start with `prefix`.
  std::vector<std::string> Starting(std::string_view prefix) const {
    return Select([prefix](const std::string& line) { return line.starts_with(prefix); });
  }

 private:
  template <typename Predicate>
  std::vector<std::string> Select(Predicate wanted) const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> found;
    for (const std::string& line : lines_) {
      if (wanted(line)) found.push_back(line);
    }
    return found;
  }

  mutable std::mutex lock_;
  std::vector<std::string> lines_;
};

}  // namespace vexalo
