#pragma once

// Small text helpers for protocol text: ASCII-only case folding (never the locale's), trimming
// and decimal numbers that cannot overflow. Header-only and free of our other layers, so that
// every layer, the XML one included, can use them.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexalo {

inline constexpr std::string_view kAsciiSpace = " \t\n\v\f\r";

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

inline std::string AsciiLowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

constexpr bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// An ordering that ignores ASCII case (for maps keyed by header names and the like).
inline bool LessNoCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return AsciiLower(x) < AsciiLower(y); });
}

constexpr std::string_view TrimLeft(std::string_view text, std::string_view chars = kAsciiSpace) {
  while (!text.empty() && chars.find(text.front()) != std::string_view::npos) text.remove_prefix(1);
  return text;
}

constexpr std::string_view TrimRight(std::string_view text, std::string_view chars = kAsciiSpace) {
  while (!text.empty() && chars.find(text.back()) != std::string_view::npos) text.remove_suffix(1);
  return text;
}

constexpr std::string_view Trim(std::string_view text, std::string_view chars = kAsciiSpace) {
  return TrimRight(TrimLeft(text, chars), chars);
}

// The whole text as plain decimal digits (no sign, no spaces, no "0x"), at most `max`.
constexpr bool ParseDecimal(std::string_view text, uint64_t max, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t result = 0;
  for (char c : text) {
    if (!IsAsciiDigit(c)) return false;
    const auto digit = static_cast<uint64_t>(c - '0');
    if (result > (max - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

// The whole text as hexadecimal digits of either case (no "0x"), at most `max`.
constexpr bool ParseHexadecimal(std::string_view text, uint64_t max, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t result = 0;
  for (char c : text) {
    uint64_t digit;
    if (IsAsciiDigit(c)) {
      digit = static_cast<uint64_t>(c - '0');
    } else if (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f') {
      digit = static_cast<uint64_t>(AsciiLower(c) - 'a' + 10);
    } else {
      return false;
    }
    if (result > (max - digit) / 16) return false;
    result = result * 16 + digit;
  }
  *value = result;
  return true;
}

// The number at the start of `text` as C's atoi reads it: white space, an optional sign, at
// least one digit; whatever follows the digits is ignored. False outside [min, max], however
// many digits there are. [min, max] must fit in `Int`.
template <typename Int>
constexpr bool ReadLeadingDecimal(std::string_view text, int64_t min, int64_t max, Int* out) {
  size_t i = 0;
  while (i < text.size() && kAsciiSpace.find(text[i]) != std::string_view::npos) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || !IsAsciiDigit(text[i])) return false;
  // Magnitudes up to INT64_MAX; a longer run is out of every range.
  int64_t value = 0;
  for (; i < text.size() && IsAsciiDigit(text[i]); ++i) {
    const int digit = text[i] - '0';
    if (value > (INT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  if (negative) value = -value;
  if (value < min || value > max) return false;
  *out = static_cast<Int>(value);
  return true;
}

}  // namespace vexalo
