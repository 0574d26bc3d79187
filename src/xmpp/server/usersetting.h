#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xml/xmlelem.h"

namespace vexalo {

// The value of one server-side user setting ("ombrix:setting").
enum class UserSettingValue : int32_t { kFalse = 0, kTrue = 1, kOther = 2 };

// The settings the client writes. The three-valued ones are left out of the request while
// unset.
struct UserSettingChanges {
  std::optional<bool> auto_accept_suggestions;
  bool auto_accept_requests = false;
  bool mail_notifications = true;
  std::optional<bool> archiving_enabled;
};

class UserSetting {
 public:
  using Entry = std::pair<std::string, UserSettingValue>;

  // More entries than any real answer has are ignored.
  static constexpr size_t kMaxEntries = 64;

  // "false" 0, "true" 1, anything else (absent included) 2.
  static UserSettingValue ParseValue(std::string_view text);
  // (local name, value) of each child element of a <usersetting/>, in document order.
  static std::vector<Entry> ParseAll(const XmlElem& usersetting);
  // <usersetting xmlns="ombrix:setting"> with the children of `changes`, in the service's
  // order.
  static std::unique_ptr<XmlElem> MakeSetElement(const UserSettingChanges& changes);
};

}  // namespace vexalo
