#include "base/http/percentencoding.h"

namespace vexalo {

std::string PercentEncode(std::string_view data, bool (*keep)(unsigned char)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(data.size());
  for (unsigned char c : data) {
    if (keep(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string UrlEncode(std::string_view data) {
  return PercentEncode(data, [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~';
  });
}

}  // namespace vexalo
