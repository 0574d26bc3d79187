#pragma once

#include <gio/gio.h>

#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/runtime/signal.h"
#include "ui/gtk/contactitem.h"

namespace vexalo {

struct PresenceStatus;
struct RosterItem;
class XmppAddress;

// The contacts of the signed-in session as a GListModel. Changes are gathered and handed to
// the list in one go from an idle callback, so that a sign-in with thousands of roster items
// and presences sorts and filters the list a few times, not once per stanza.
class ContactListModel {
 public:
  // Above this many changed items a flush replaces the whole list instead of finding each.
  static constexpr size_t kMaxSingleChanges = 32;

  ContactListModel();
  ~ContactListModel();
  ContactListModel(const ContactListModel&) = delete;
  ContactListModel& operator=(const ContactListModel&) = delete;

  GListModel* model() const { return G_LIST_MODEL(store_); }

  void Clear();
  void SetRosterItem(const RosterItem& item);
  void Remove(const XmppAddress& address);
  void SetPresence(const PresenceStatus& status);
  void SetTyping(const XmppAddress& address, bool typing);
  // Only for contacts already in the list.
  void SetPicture(const XmppAddress& address, const std::string& hash);
  // Hands pending changes to the list now (tests; the idle callback otherwise).
  void Flush();

  size_t size() const { return items_.size(); }
  // The contact with that bare address; null when it is not on the list.
  const ContactData* Find(const std::string& address) const;
  // The groups of all contacts, sorted.
  std::vector<std::string> Groups() const;
  // After a flush that added or changed a group.
  Signal<> SignalGroupsChanged;

 private:
  VexaloContactItem* Ensure(const std::string& address);
  void Changed(VexaloContactItem* item);
  void ScheduleFlush();
  static gboolean OnIdle(gpointer self);

  GListStore* store_;
  // Every contact by bare address; the store holds the references.
  std::unordered_map<std::string, VexaloContactItem*> items_;
  std::vector<VexaloContactItem*> added_;
  std::unordered_set<VexaloContactItem*> changed_;
  std::set<std::string> groups_;
  bool groups_changed_ = false;
  guint idle_ = 0;
};

}  // namespace vexalo
