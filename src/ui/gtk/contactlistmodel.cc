#include "ui/gtk/contactlistmodel.h"

#include "xmpp/presence/presencestatus.h"
#include "xmpp/roster/rosteritem.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {
namespace {

ContactData::Presence PresenceOf(const PresenceStatus& status) {
  if (!status.available) return ContactData::Presence::kOffline;
  switch (status.show) {
    case ShowState::kAway:
    case ShowState::kXa:
      return ContactData::Presence::kAway;
    case ShowState::kDnd:
      return ContactData::Presence::kBusy;
    case ShowState::kOffline:
      return ContactData::Presence::kOffline;
    case ShowState::kOnline:
    case ShowState::kChat:
      break;
  }
  return ContactData::Presence::kAvailable;
}

const char* SubscriptionNote(const RosterItem& item) {
  if (item.subscription == RosterSubscription::kBoth ||
      item.subscription == RosterSubscription::kTo) {
    return "";
  }
  return item.ask_subscribe ? "Waiting for approval" : "Not sharing status";
}

}  // namespace

ContactListModel::ContactListModel() : store_(g_list_store_new(VEXALO_TYPE_CONTACT_ITEM)) {}

ContactListModel::~ContactListModel() {
  if (idle_ != 0) g_source_remove(idle_);
  for (VexaloContactItem* item : added_) g_object_unref(item);
  g_object_unref(store_);
}

void ContactListModel::Clear() {
  for (VexaloContactItem* item : added_) g_object_unref(item);
  added_.clear();
  changed_.clear();
  items_.clear();
  g_list_store_remove_all(store_);
  if (!groups_.empty()) {
    groups_.clear();
    SignalGroupsChanged();
  }
}

VexaloContactItem* ContactListModel::Ensure(const std::string& address) {
  auto found = items_.find(address);
  if (found != items_.end()) return found->second;
  VexaloContactItem* item = vexalo_contact_item_new(address);
  items_.emplace(address, item);
  added_.push_back(item);
  ScheduleFlush();
  return item;
}

void ContactListModel::Changed(VexaloContactItem* item) {
  changed_.insert(item);
  ScheduleFlush();
}

void ContactListModel::SetRosterItem(const RosterItem& item) {
  VexaloContactItem* contact = Ensure(item.address.WithoutResource().ToString());
  ContactData* data = vexalo_contact_item_data(contact);
  data->name = item.name;
  data->group = item.groups.empty() ? std::string() : item.groups.front();
  data->subscription_note = SubscriptionNote(item);
  data->UpdateKeys();
  if (!data->group.empty() && groups_.insert(data->group).second) groups_changed_ = true;
  Changed(contact);
}

void ContactListModel::Remove(const XmppAddress& address) {
  auto found = items_.find(address.WithoutResource().ToString());
  if (found == items_.end()) return;
  VexaloContactItem* item = found->second;
  items_.erase(found);
  changed_.erase(item);
  for (auto it = added_.begin(); it != added_.end(); ++it) {
    if (*it == item) {
      added_.erase(it);
      g_object_unref(item);
      return;
    }
  }
  guint position = 0;
  if (g_list_store_find(store_, item, &position)) g_list_store_remove(store_, position);
}

void ContactListModel::SetPresence(const PresenceStatus& status) {
  auto found = items_.find(status.address.WithoutResource().ToString());
  // Presence of someone not on the list (ourselves, a stranger) is not shown.
  if (found == items_.end()) return;
  ContactData* data = vexalo_contact_item_data(found->second);
  data->presence = PresenceOf(status);
  data->status = status.available ? status.status : std::string();
  if (!status.available) data->typing = false;
  Changed(found->second);
}

void ContactListModel::SetPicture(const XmppAddress& address, const std::string& hash) {
  auto found = items_.find(address.WithoutResource().ToString());
  if (found == items_.end()) return;
  ContactData* data = vexalo_contact_item_data(found->second);
  if (data->picture_hash == hash) return;
  data->picture_hash = hash;
  Changed(found->second);
}

void ContactListModel::SetTyping(const XmppAddress& address, bool typing) {
  auto found = items_.find(address.WithoutResource().ToString());
  if (found == items_.end()) return;
  ContactData* data = vexalo_contact_item_data(found->second);
  if (data->typing == typing) return;
  data->typing = typing;
  Changed(found->second);
}

std::vector<std::string> ContactListModel::Groups() const {
  return std::vector<std::string>(groups_.begin(), groups_.end());
}

void ContactListModel::ScheduleFlush() {
  if (idle_ == 0) idle_ = g_idle_add(&ContactListModel::OnIdle, this);
}

gboolean ContactListModel::OnIdle(gpointer self) {
  auto* model = static_cast<ContactListModel*>(self);
  model->idle_ = 0;
  model->Flush();
  return G_SOURCE_REMOVE;
}

void ContactListModel::Flush() {
  for (VexaloContactItem* item : added_) changed_.erase(item);
  const guint count = g_list_model_get_n_items(G_LIST_MODEL(store_));
  if (changed_.size() > kMaxSingleChanges) {
    // Replacing everything at once costs one sort; finding each item would cost n each.
    std::vector<gpointer> all;
    all.reserve(count + added_.size());
    for (guint i = 0; i < count; ++i) all.push_back(g_list_model_get_item(G_LIST_MODEL(store_), i));
    all.insert(all.end(), added_.begin(), added_.end());
    g_list_store_splice(store_, 0, count, all.data(), static_cast<guint>(all.size()));
    for (guint i = 0; i < count; ++i) g_object_unref(all[i]);
  } else {
    for (VexaloContactItem* item : changed_) {
      guint position = 0;
      // Putting the item back in its place tells the sorter and filter that it changed.
      if (g_list_store_find(store_, item, &position)) {
        // The store drops its reference before it takes the new one: hold the item meanwhile.
        gpointer items[] = {g_object_ref(item)};
        g_list_store_splice(store_, position, 1, items, 1);
        g_object_unref(item);
      }
    }
    if (!added_.empty()) {
      g_list_store_splice(store_, count, 0, reinterpret_cast<gpointer*>(added_.data()),
                          static_cast<guint>(added_.size()));
    }
  }
  for (VexaloContactItem* item : added_) g_object_unref(item);
  added_.clear();
  changed_.clear();
  if (groups_changed_) {
    groups_changed_ = false;
    SignalGroupsChanged();
  }
}

const ContactData* ContactListModel::Find(const std::string& address) const {
  auto item = items_.find(address);
  return item != items_.end() ? vexalo_contact_item_data(item->second) : nullptr;
}

}  // namespace vexalo
