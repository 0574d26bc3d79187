#include "xmpp/presence/presencestatus.h"

#include "text/asciitext.h"
#include "xmpp/stream/constants.h"
#include "xmpp/roster/rosteritem.h"

namespace vexalo {

ShowState ShowStateFromText(std::string_view text) {
  if (text == kStrDnd) return ShowState::kDnd;
  if (text == kStrChat) return ShowState::kChat;
  if (text == kStrAway) return ShowState::kAway;
  if (text == kStrXa) return ShowState::kXa;
  return ShowState::kOnline;
}

std::string_view ShowStateToText(ShowState show) {
  switch (show) {
    case ShowState::kXa:
      return kStrXa;
    case ShowState::kAway:
      return kStrAway;
    case ShowState::kDnd:
      return kStrDnd;
    case ShowState::kChat:
      return kStrChat;
    case ShowState::kOffline:
    case ShowState::kOnline:
      break;
  }
  return {};
}

void PresenceStatus::CutUtf8(std::string* text, size_t max_bytes) {
  if (text->size() <= max_bytes) return;
  size_t end = max_bytes;
  // Back to the first byte of the character that straddles the limit.
  while (end > 0) {
    const auto byte = static_cast<unsigned char>((*text)[end]);
    if (byte < 0x80 || (byte >= 0xC0 && byte <= 0xFD)) break;
    --end;
  }
  text->resize(end);
}

PresenceStatus PresenceStatus::FromStanza(const XmlElem& presence) {
  PresenceStatus status;
  status.address = XmppAddress(presence.GetAttribute(kQnFrom));
  if (presence.GetAttribute(kQnType) == kStrUnavailable) {
    status.available = false;
    return status;
  }
  status.available = true;
  status.status = presence.ChildText(kQnStatus);
  CutUtf8(&status.status, kMaxStatusBytes);
  if (const XmlElem* priority = presence.FindChild(kQnPriority)) {
    ReadLeadingDecimal(priority->OnlyText(), kMinPriority, kMaxPriority, &status.priority);
  }
  if (const XmlElem* update = presence.FindChild(kQnVcardUpdateX)) {
    status.has_photo_update = true;
    if (const XmlElem* photo = update->FindChild(kQnVcardUpdatePhoto)) {
      status.photo_hash = photo->OnlyText();
      status.photo_hash_known = true;
    }
  }
  status.show = ShowStateFromText(presence.ChildText(kQnShow));
  if (const XmlElem* caps = presence.FindChild(kQnCapsC)) {
    status.has_caps = true;
    const std::string& ext = caps->GetAttribute(kQnExt);
    size_t start = 0;
    while (start < ext.size()) {
      const size_t end = ext.find(' ', start);
      const size_t stop = end == std::string::npos ? ext.size() : end;
      if (stop > start) status.caps_ext.emplace(ext, start, stop - start);
      start = stop + 1;
    }
    if (caps->GetAttribute(kQnNode) == kCapsNode) {
      status.caps_ver = caps->GetAttribute(kQnVer);
      status.caps_ver_known = true;
    }
  }
  if (const XmlElem* delay = presence.FindChild(kQnDelayX)) {
    status.delay_stamp = delay->GetAttribute(kQnStamp);
  }
  return status;
}

}  // namespace vexalo
