#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "xml/xmlelem.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// The mood of a presence. The numbers are part of the interface.
enum class ShowState : int32_t {
  kOffline = 2,
  kXa = 3,
  kAway = 4,
  kDnd = 5,
  kOnline = 6,  // no <show/>
  kChat = 7,
};

// "dnd", "chat", "away", "xa"; anything else is online.
ShowState ShowStateFromText(std::string_view text);
// The <show/> text; empty for online (and offline, which has none).
std::string_view ShowStateToText(ShowState show);

// A presence received from a contact, or the user's own to be sent.
struct PresenceStatus {
  // Received status messages are cut to this many bytes (at a character boundary).
  static constexpr size_t kMaxStatusBytes = 300;
  // RFC 6121 priorities; others are not taken.
  static constexpr int32_t kMinPriority = -128;
  static constexpr int32_t kMaxPriority = 127;

  XmppAddress address;
  int32_t priority = 0;
  ShowState show = ShowState::kOnline;
  std::string status;
  bool available = false;
  bool invisible = false;
  bool has_caps = false;
  std::set<std::string> caps_ext;
  // The caps node is our client family's (kCapsNode), so caps_ver names our feature set.
  bool caps_ver_known = false;
  std::string caps_ver;
  // From vcard-temp:x:update, as the sender wrote it: check it before using it as a name.
  std::string photo_hash;
  bool photo_hash_known = false;
  bool has_photo_update = false;
  std::string delay_stamp;

  // Reads an available or unavailable <presence/>.
  static PresenceStatus FromStanza(const XmlElem& presence);
  // Keeps at most `max_bytes` of UTF-8 `text`, never splitting a character.
  static void CutUtf8(std::string* text, size_t max_bytes);
};

}  // namespace vexalo
