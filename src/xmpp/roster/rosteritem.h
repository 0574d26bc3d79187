#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xmlelem.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// The "subscription" attribute of a roster item. The numbers are part of the interface.
enum class RosterSubscription : int32_t {
  kNone = 0,
  kTo = 1,
  kFrom = 2,
  kBoth = 3,
  kRemove = 4,
};

// The service's list mode of a contact (gr:t).
enum class RosterListMode : int32_t {
  kNormal = 1,
  kHidden = 2,
  kBlocked = 3,
};

// One contact as the server describes it, with the service's roster extension (attributes in
// kNsOmbrixRoster) read where present.
struct RosterItem {
  XmppAddress address;
  std::string name;
  std::vector<std::string> groups;  // document order
  RosterSubscription subscription = RosterSubscription::kNone;
  bool ask_subscribe = false;
  RosterListMode list_mode = RosterListMode::kNormal;
  // Interaction weight: gr:emc when present and non-empty, else gr:w.
  int32_t weight = 0;
  int32_t message_count = 0;
  bool rejected = false;
  bool auto_subscribe = false;
  // Invalid when the contact is nobody's alias.
  XmppAddress alias_for;

  // Reads an <item/> of a roster query. False (and `out` unspecified) when its "jid" is not
  // a valid address: such items are skipped.
  static bool Parse(const XmlElem& item, RosterItem* out);

  // Counters from the network are non-negative 32-bit values; anything else reads as 0.
  static int32_t ReadCounter(std::string_view text);
};

}  // namespace vexalo
