// Reads an arbitrary element as a roster item (and every item below it), a presence and a
// shared status. Nothing may crash; a received status stays within its limit; a shared status
// written back reads the same.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "xml/xmlelem.h"
#include "xmpp/presence/presencestatus.h"
#include "xmpp/roster/rosteritem.h"
#include "xmpp/presence/sharedstatus.h"

namespace {

using namespace vexalo;

void ReadItems(const XmlElem& elem, int depth) {
  RosterItem item;
  if (RosterItem::Parse(elem, &item) && (item.weight < 0 || item.message_count < 0)) abort();
  if (depth == 0) return;
  for (XmlElem* child = elem.FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    ReadItems(*child, depth - 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<XmlElem> elem =
      XmlElem::ParseFromString(std::string_view(reinterpret_cast<const char*>(data), size));
  if (elem == nullptr) return 0;
  ReadItems(*elem, 2);

  const PresenceStatus presence = PresenceStatus::FromStanza(*elem);
  if (presence.status.size() > PresenceStatus::kMaxStatusBytes) abort();
  if (presence.priority < PresenceStatus::kMinPriority ||
      presence.priority > PresenceStatus::kMaxPriority) {
    abort();
  }

  const SharedStatus shared = SharedStatus::Parse(*elem);
  std::unique_ptr<XmlElem> written = shared.MakeQuery();
  const SharedStatus again = SharedStatus::Parse(*written);
  if (again.status != shared.status || again.show != shared.show || again.lists != shared.lists) {
    abort();
  }
  return 0;
}
