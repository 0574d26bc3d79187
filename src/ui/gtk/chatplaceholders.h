#pragma once

#include <ctime>
#include <map>
#include <string>

namespace vexalo {

// Fills a theme fragment: "%name%" or "%name{argument}%" becomes the value given for the name;
// a name without a value stays as it is. Values are HTML already (the caller escapes), and
// the text is scanned once, so a value that itself looks like a placeholder is not expanded.
class ChatPlaceholders {
 public:
  // A placeholder longer than this is not one.
  static constexpr size_t kMaxPlaceholder = 128;

  void Set(const std::string& name, std::string html) { values_[name] = std::move(html); }
  // "time": the local time of `when`, formatted by the argument (strftime), "%X" without one.
  void SetTime(std::time_t when) {
    time_ = when;
    has_time_ = true;
  }

  std::string Expand(const std::string& fragment) const;

 private:
  std::string Value(const std::string& name, const std::string* argument, bool* known) const;

  std::map<std::string, std::string> values_;
  std::time_t time_ = 0;
  bool has_time_ = false;
};

}  // namespace vexalo
