#pragma once

#include <string>
#include <string_view>

namespace vexalo {

// Writes every byte for which `keep` is false as %XX (upper-case hex).
std::string PercentEncode(std::string_view data, bool (*keep)(unsigned char));

// %-encodes everything but the unreserved characters of RFC 3986, for forms and URLs.
std::string UrlEncode(std::string_view data);

}  // namespace vexalo
