#pragma once

#include <cstdint>

#include "xml/xmlname.h"

namespace vexalo {

// Typing notifications carried beside (or instead of) a chat message's body.
enum class ChatState : int32_t {
  kNone = 0,
  kActive = 1,
  kComposing = 2,
  kPaused = 3,
  kInactive = 4,
  kGone = 5,
};

// The element name of a state; null for kNone and values out of range.
const XmlName* ChatStateElementName(ChatState state);
// The state an element of the chat-states namespace stands for; kNone for names we do not know.
ChatState ChatStateFromName(const XmlName& name);
// "none", "active", ..., for logs.
const char* ChatStateText(ChatState state);

}  // namespace vexalo
