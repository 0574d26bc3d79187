#pragma once

#include <map>
#include <set>
#include <string>

#include "base/runtime/signal.h"
#include "xmpp/stream/xmppaddress.h"
#include "xmpp/vcard/avatarcache.h"

namespace vexalo {

class StepTaskParent;
class VCard;
struct PresenceStatus;

// Keeps the contacts' pictures of one signed-in connection in the picture cache: a presence
// that names a picture we do not have asks for the contact's vCard (one request per contact
// at a time, none for a picture whose requests keep failing), and the index of who has which
// picture is kept on disk so that pictures show before the contacts' presence arrives.
class AvatarManager : public SlotHost {
 public:
  // `cache` is open and outlives this object; `tasks` is the connection.
  AvatarManager(StepTaskParent* tasks, AvatarCache* cache, const XmppAddress& self);
  ~AvatarManager() override;
  AvatarManager(const AvatarManager&) = delete;
  AvatarManager& operator=(const AvatarManager&) = delete;

  // The hash of the contact's picture as last known; empty for none.
  std::string HashOf(const XmppAddress& contact) const;
  const std::string& own_hash() const { return own_hash_; }

  void OnPresence(const PresenceStatus& presence);
  // Asks for our own card, whose picture the status box shows.
  void RequestOwn();

  // A contact's (bare address) picture changed: its hash, empty when it has none now.
  Signal<const XmppAddress&, const std::string&> SignalPicture;
  Signal<const std::string&> SignalOwnPicture;

 private:
  void Request(const XmppAddress& contact, const std::string& expected_hash);
  void OnVCard(const XmppAddress& contact, const std::string& expected_hash, const VCard& card);
  void SetHash(const XmppAddress& contact, const std::string& hash);

  StepTaskParent* tasks_;
  AvatarCache* cache_;
  XmppAddress self_;
  AvatarCache::Index index_;
  std::string own_hash_;
  // Contacts (bare, as text; empty for ourselves) with a request out.
  std::set<std::string> pending_;
};

}  // namespace vexalo
