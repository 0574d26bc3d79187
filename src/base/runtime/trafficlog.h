#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/runtime/logging.h"

namespace vexalo {

enum class TrafficDirection { kReceived, kSent };

// Bytes per row of the binary traffic format.
inline constexpr size_t kTrafficBytesPerRow = 24;

// The lines that log `data` as text: "[label] << line" for received data, " >> " for sent.
// Lines are split at line feeds (a carriage return before one is dropped; a last piece without
// one is a line too). A line mentioning "Email" or "Passwd" becomes "## TEXT REMOVED ##".
std::vector<std::string> FormatTrafficText(std::string_view label, TrafficDirection direction,
                                           std::string_view data);

// The lines that log `data` as rows of up to 24 bytes: the printable characters (others as
// "."), then the bytes in hex, a space after every fourth; short rows are padded so that the
// columns line up.
std::vector<std::string> FormatTrafficBinary(std::string_view label, TrafficDirection direction,
                                             std::string_view data);

// Logs `data` at `severity`, one statement per line. Costs nothing when `severity` is not logged.
void LogTraffic(LogSeverity severity, std::string_view label, TrafficDirection direction,
                const void* data, size_t length, bool binary);

}  // namespace vexalo
