#include "base/runtime/trafficlog.h"

namespace vexalo {

namespace {

std::string LinePrefix(std::string_view label, TrafficDirection direction) {
  std::string prefix;
  prefix.reserve(label.size() + 6);
  prefix += '[';
  prefix += label;
  prefix += ']';
  prefix += direction == TrafficDirection::kReceived ? " << " : " >> ";
  return prefix;
}

// Keeps account names and passwords of form posts out of the log.
bool IsPrivateLine(std::string_view line) {
  // Form fields of account sign-ins, and HTTP credentials (Authorization and
  // Proxy-Authorization headers carry passwords in Basic and tokens otherwise).
  return line.find("Email") != std::string_view::npos ||
         line.find("Passwd") != std::string_view::npos ||
         line.find("Authorization:") != std::string_view::npos;
}

}  // namespace

std::vector<std::string> FormatTrafficText(std::string_view label, TrafficDirection direction,
                                           std::string_view data) {
  const std::string prefix = LinePrefix(label, direction);
  std::vector<std::string> lines;
  while (!data.empty()) {
    const size_t feed = data.find('\n');
    std::string_view line = data.substr(0, feed);
    if (feed != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(prefix + std::string(IsPrivateLine(line) ? "## TEXT REMOVED ##" : line));
    if (feed == std::string_view::npos) break;
    data.remove_prefix(feed + 1);
  }
  return lines;
}

std::vector<std::string> FormatTrafficBinary(std::string_view label, TrafficDirection direction,
                                             std::string_view data) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string prefix = LinePrefix(label, direction);
  std::vector<std::string> lines;
  for (size_t start = 0; start < data.size(); start += kTrafficBytesPerRow) {
    const std::string_view row = data.substr(start, kTrafficBytesPerRow);
    std::string chars;
    std::string hex;
    for (size_t i = 0; i < kTrafficBytesPerRow; ++i) {
      if (i < row.size()) {
        const auto byte = static_cast<unsigned char>(row[i]);
        chars += byte >= 0x20 && byte < 0x7f ? static_cast<char>(byte) : '.';
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0x0f];
      } else {
        chars += ' ';
        hex += "  ";
      }
      if (i % 4 == 3) hex += ' ';
    }
    lines.push_back(prefix + chars + " " + hex + " ");
  }
  return lines;
}

void LogTraffic(LogSeverity severity, std::string_view label, TrafficDirection direction,
                const void* data, size_t length, bool binary) {
  if (!log_internal::IsOn(severity) || !data || length == 0) return;
  const std::string_view bytes(static_cast<const char*>(data), length);
  const std::vector<std::string> lines = binary ? FormatTrafficBinary(label, direction, bytes)
                                                : FormatTrafficText(label, direction, bytes);
  for (const std::string& line : lines) LOG_V(severity) << line;
}

}  // namespace vexalo
