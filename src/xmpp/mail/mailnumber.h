#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace vexalo {

// The latest time a mail date or result time may name: the end of year 9999 in milliseconds
// since 1970. A server's time beyond it would stop every later query from finding new mail.
inline constexpr int64_t kMaxMailTime = 253402300799999;
inline constexpr int64_t kMaxMailCount = std::numeric_limits<int32_t>::max();

// A whole decimal number of the mail service ("-" allowed, no blanks, no "+") within
// [min, max]. False, leaving `out` alone, for anything else, overflow included.
bool ParseMailNumber(std::string_view text, int64_t min, int64_t max, int64_t* out);

}  // namespace vexalo
