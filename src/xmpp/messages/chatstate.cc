#include "xmpp/messages/chatstate.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

const XmlName* ChatStateElementName(ChatState state) {
  switch (state) {
    case ChatState::kActive:
      return &kQnChatStateActive;
    case ChatState::kComposing:
      return &kQnChatStateComposing;
    case ChatState::kPaused:
      return &kQnChatStatePaused;
    case ChatState::kInactive:
      return &kQnChatStateInactive;
    case ChatState::kGone:
      return &kQnChatStateGone;
    case ChatState::kNone:
      break;
  }
  return nullptr;
}

ChatState ChatStateFromName(const XmlName& name) {
  if (name == kQnChatStateActive) return ChatState::kActive;
  if (name == kQnChatStateComposing) return ChatState::kComposing;
  if (name == kQnChatStatePaused) return ChatState::kPaused;
  if (name == kQnChatStateInactive) return ChatState::kInactive;
  if (name == kQnChatStateGone) return ChatState::kGone;
  return ChatState::kNone;
}

const char* ChatStateText(ChatState state) {
  switch (state) {
    case ChatState::kNone:
      return "none";
    case ChatState::kActive:
      return "active";
    case ChatState::kComposing:
      return "composing";
    case ChatState::kPaused:
      return "paused";
    case ChatState::kInactive:
      return "inactive";
    case ChatState::kGone:
      return "gone";
  }
  return "<unknown>";
}

}  // namespace vexalo
