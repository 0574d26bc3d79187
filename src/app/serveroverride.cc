#include "app/serveroverride.h"

#include <charconv>

namespace vexalo {

bool ServerOverride::Parse(std::string_view text, ServerOverride* out) {
  const size_t colon = text.rfind(':');
  ServerOverride parsed;
  parsed.host = std::string(text.substr(0, colon));
  if (colon != std::string_view::npos) {
    unsigned value = 0;
    const char* begin = text.data() + colon + 1;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop != end || value == 0 || value > 65535) return false;
    parsed.port = static_cast<uint16_t>(value);
  }
  if (parsed.host.empty()) return false;
  *out = std::move(parsed);
  return true;
}

}  // namespace vexalo
