#include "platform/regvalue.h"

#include <glib.h>

namespace vexalo {

namespace {

bool IsStorableText(const std::string& text) {
  return text.find('\0') == std::string::npos &&
         g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

}  // namespace

size_t RegValue::ContentSize() const {
  switch (type_) {
    case RegType::kDword:
      return sizeof(uint32_t);
    case RegType::kString:
      return text_.size();
    case RegType::kBinary:
      return bytes_.size();
    case RegType::kMultiString:
      break;
  }
  size_t total = 0;
  for (const std::string& s : strings_) total += s.size() + 1;
  return total;
}

bool RegValue::IsStorable() const {
  if (ContentSize() > kMaxRegValueBytes) return false;
  if (type_ == RegType::kString) return IsStorableText(text_);
  if (type_ == RegType::kMultiString) {
    for (const std::string& s : strings_) {
      if (!IsStorableText(s)) return false;
    }
  }
  return true;
}

}  // namespace vexalo
