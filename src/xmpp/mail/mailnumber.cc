#include "xmpp/mail/mailnumber.h"

#include <charconv>

namespace vexalo {

bool ParseMailNumber(std::string_view text, int64_t min, int64_t max, int64_t* out) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, 10);
  if (text.empty() || ec != std::errc() || ptr != end || value < min || value > max) return false;
  *out = value;
  return true;
}

}  // namespace vexalo
