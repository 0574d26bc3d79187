#include "ui/gtk/chatplaceholders.h"

#include "ui/gtk/chathtml.h"

namespace vexalo {
namespace {

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string ChatPlaceholders::Value(const std::string& name, const std::string* argument,
                                    bool* known) const {
  if (name == "time" && has_time_) {
    *known = true;
    std::tm local{};
    localtime_r(&time_, &local);
    char text[256];
    const std::string format = argument != nullptr ? *argument : "%X";
    // A format whose result does not fit gives nothing rather than a cut text.
    const size_t length = format.empty() ? 0 : std::strftime(text, sizeof text, format.c_str(), &local);
    return ChatHtml::Escape(std::string(text, length));
  }
  auto value = values_.find(name);
  *known = value != values_.end();
  return *known ? value->second : std::string();
}

std::string ChatPlaceholders::Expand(const std::string& fragment) const {
  std::string out;
  out.reserve(fragment.size());
  size_t i = 0;
  while (i < fragment.size()) {
    if (fragment[i] != '%') {
      out += fragment[i++];
      continue;
    }
    // '%' name ['{' argument '}'] '%'
    size_t j = i + 1;
    while (j < fragment.size() && IsNameChar(fragment[j])) ++j;
    const std::string name = fragment.substr(i + 1, j - i - 1);
    std::string argument;
    bool has_argument = false;
    if (!name.empty() && j < fragment.size() && fragment[j] == '{') {
      const size_t close = fragment.find('}', j + 1);
      if (close != std::string::npos && close - i < kMaxPlaceholder) {
        argument = fragment.substr(j + 1, close - j - 1);
        has_argument = true;
        j = close + 1;
      }
    }
    const bool well_formed = !name.empty() && j < fragment.size() && fragment[j] == '%' &&
                             j + 1 - i <= kMaxPlaceholder;
    bool known = false;
    std::string value;
    if (well_formed) value = Value(name, has_argument ? &argument : nullptr, &known);
    if (!well_formed) {
      // No placeholder here: the '%' stays and scanning goes on after it.
      out += '%';
      ++i;
      continue;
    }
    // A placeholder without a value stays as it is.
    out += known ? value : fragment.substr(i, j + 1 - i);
    i = j + 1;
  }
  return out;
}

}  // namespace vexalo
