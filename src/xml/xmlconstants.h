#pragma once

#include <string_view>

namespace vexalo {

// Constant expressions, so they are usable during static initialisation of other files.
inline constexpr std::string_view kNsXml = "http://www.w3.org/XML/1998/namespace";
inline constexpr std::string_view kNsXmlns = "http://www.w3.org/2000/xmlns/";
inline constexpr std::string_view kStrXmlns = "xmlns";
inline constexpr std::string_view kStrVersion = "version";
inline constexpr std::string_view kStrEncoding = "encoding";

}  // namespace vexalo
