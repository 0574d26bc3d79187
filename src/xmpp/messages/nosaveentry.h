#pragma once

#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// One off-the-record setting: whether the server keeps the history of the conversation with
// `contact`. `source` is the resource that changed it (kEmptyAddress in query results).
struct NoSaveEntry {
  XmppAddress source;
  XmppAddress contact;
  bool enabled = false;  // true: off the record
};

// The values of the "value" attribute.
inline constexpr std::string_view kNoSaveEnabled = "enabled";
inline constexpr std::string_view kNoSaveDisabled = "disabled";

}  // namespace vexalo
