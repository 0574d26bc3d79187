#pragma once

#include <string>
#include <vector>

#include "xmpp/presence/presencestatus.h"
#include "xmpp/roster/rosteritem.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// What the application knows of one contact: its roster entry and the presence of each of its
// resources, in the order they announced themselves.
struct ContactRecord {
  // The capability a resource announces when it takes calls.
  static constexpr const char* kVoiceCapability = "voice-v1";

  XmppAddress address;  // bare
  bool in_roster = false;
  RosterItem item;
  std::vector<PresenceStatus> resources;

  // Stores an available presence of a resource, or forgets the resource when unavailable.
  void UpdatePresence(const PresenceStatus& status);
  const PresenceStatus* Resource(const XmppAddress& full) const;
  bool OffersVoice(const XmppAddress& full) const;
  // Whether we see the contact's presence: it is on the roster with a subscription to it.
  bool Subscribed() const;
  // The resource a chat or call goes to (see the rules in the .cc); invalid when none.
  XmppAddress ChooseResource(bool voice_required) const;
  // Whether `candidate` replaces `best` as the chosen resource.
  static bool Beats(const PresenceStatus& candidate, const PresenceStatus& best);
  // Forgets "voice-v1" of a resource whose client refused our session messages.
  void DropVoice(const XmppAddress& full);
};

}  // namespace vexalo
