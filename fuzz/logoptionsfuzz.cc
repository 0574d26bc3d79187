// Feeds arbitrary bytes to the log option parser and the traffic formatters.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/runtime/logoptions.h"
#include "base/runtime/trafficlog.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool IsThreshold(vexalo::LogSeverity severity) {
  return severity >= vexalo::kSensitive && severity <= vexalo::kLogOff;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vexalo::TrafficDirection;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const vexalo::LogOptions options = vexalo::ParseLogOptions(text);
  Check(IsThreshold(options.debug_severity));
  Check(IsThreshold(options.stream_severity));
  Check(options.sink == vexalo::LogSinkKind::kNone || options.stream_severity != vexalo::kLogOff ||
        text.find("none") != std::string_view::npos);
  Check(options.sink != vexalo::LogSinkKind::kDiag || (options.timestamps && options.thread_ids));
  // The echo of unknown words is short and printable, whatever came in.
  Check(options.unknown_words.size() <= 210);
  for (char c : options.unknown_words) Check(c >= 0x20 && c < 0x7f);

  size_t text_bytes = 0;
  for (const auto& line : vexalo::FormatTrafficText("fuzz", TrafficDirection::kReceived, text)) {
    Check(line.starts_with("[fuzz] << "));
    text_bytes += line.size();
  }
  Check(text_bytes <= size + (size + 1) * 30);

  const auto rows = vexalo::FormatTrafficBinary("fuzz", TrafficDirection::kSent, text);
  Check(rows.size() == (size + vexalo::kTrafficBytesPerRow - 1) / vexalo::kTrafficBytesPerRow);
  for (const auto& row : rows) Check(row.size() == rows.front().size());
  return 0;
}
