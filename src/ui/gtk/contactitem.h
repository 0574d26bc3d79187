#pragma once

#include <glib-object.h>

#include <string>

namespace vexalo {

// What the contact list shows of one contact. Kept in a GObject so that GTK's list models
// can hold it; the front end changes it and tells the model.
struct ContactData {
  // Presence for sorting, best first.
  enum class Presence { kAvailable = 0, kAway = 1, kBusy = 2, kOffline = 3 };

  std::string address;  // bare
  std::string name;     // as the roster has it; may be empty
  std::string group;    // the first group the roster carries; empty for none
  std::string status;   // the contact's status text
  std::string subscription_note;  // "waiting for approval" and the like; empty when subscribed
  Presence presence = Presence::kOffline;
  bool typing = false;
  // The hash of the contact's picture in the cache; empty: the default picture.
  std::string picture_hash;
  // Casefolded name and address for search as you type.
  std::string search_key;
  // Collation key of the shown name then the address: numbers in names sort as numbers.
  std::string sort_key;

  // The name to show: the roster's, else the address.
  const std::string& DisplayName() const { return name.empty() ? address : name; }
  // Recomputes the keys after a change of name or address.
  void UpdateKeys();
};

const char* PresenceText(ContactData::Presence presence);

}  // namespace vexalo

G_BEGIN_DECLS
#define VEXALO_TYPE_CONTACT_ITEM (vexalo_contact_item_get_type())
G_DECLARE_FINAL_TYPE(VexaloContactItem, vexalo_contact_item, VEXALO, CONTACT_ITEM, GObject)
G_END_DECLS

// A new item for `address` (a full reference).
VexaloContactItem* vexalo_contact_item_new(const std::string& address);
vexalo::ContactData* vexalo_contact_item_data(VexaloContactItem* item);
