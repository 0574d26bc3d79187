#include "ui/gtk/contactlistmodel.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "xmpp/presence/presencestatus.h"
#include "xmpp/roster/rosteritem.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {
namespace {

RosterItem Item(const std::string& address, const std::string& name, const std::string& group) {
  RosterItem item;
  item.address = XmppAddress(address);
  item.name = name;
  if (!group.empty()) item.groups.push_back(group);
  item.subscription = RosterSubscription::kBoth;
  return item;
}

PresenceStatus Presence(const std::string& full, bool available, ShowState show,
                        const std::string& text) {
  PresenceStatus status;
  status.address = XmppAddress(full);
  status.available = available;
  status.show = show;
  status.status = text;
  return status;
}

const ContactData& At(const ContactListModel& model, guint i) {
  auto* item = static_cast<VexaloContactItem*>(g_list_model_get_item(model.model(), i));
  const ContactData& data = *vexalo_contact_item_data(item);
  g_object_unref(item);  // the store keeps it
  return data;
}

// Records how many items each change of the list added.
void RecordAdditions(ContactListModel* model, std::vector<guint>* added) {
  g_signal_connect(model->model(), "items-changed",
                   G_CALLBACK(+[](GListModel*, guint, guint, guint add, gpointer out) {
                     static_cast<std::vector<guint>*>(out)->push_back(add);
                   }),
                   added);
}

// A sign-in's roster and presences reach the list in one change, not one per stanza.
TEST(ContactListModelTest, BatchesARosterIntoOneChange) {
  ContactListModel model;
  std::vector<guint> added;
  RecordAdditions(&model, &added);
  for (int i = 0; i < 5000; ++i) {
    model.SetRosterItem(Item("c" + std::to_string(i) + "@example.org", "C " + std::to_string(i),
                             "Team " + std::to_string(i % 3)));
  }
  model.SetPresence(Presence("c7@example.org/phone", true, ShowState::kDnd, "In a meeting"));
  model.Flush();
  EXPECT_EQ(added, std::vector<guint>({5000}));
  EXPECT_EQ(g_list_model_get_n_items(model.model()), 5000u);
  EXPECT_EQ(model.Groups(), std::vector<std::string>({"Team 0", "Team 1", "Team 2"}));
  const ContactData& seven = At(model, 7);
  EXPECT_EQ(seven.presence, ContactData::Presence::kBusy);
  EXPECT_EQ(seven.status, "In a meeting");
}

// Later changes: a few are put back in place one by one, many at once; either way every
// item stays exactly once.
TEST(ContactListModelTest, ChangesKeepEachContactOnce) {
  for (int changes : {3, 200}) {
    ContactListModel model;
    for (int i = 0; i < 300; ++i) model.SetRosterItem(Item("c" + std::to_string(i) + "@x.org", "", ""));
    model.Flush();
    for (int i = 0; i < changes; ++i) {
      model.SetPresence(Presence("c" + std::to_string(i) + "@x.org/r", true, ShowState::kAway, "x"));
    }
    model.SetRosterItem(Item("new@x.org", "New", "Friends"));
    model.Remove(XmppAddress("c299@x.org"));
    model.Flush();
    ASSERT_EQ(g_list_model_get_n_items(model.model()), 300u) << changes;
    std::set<std::string> seen;
    for (guint i = 0; i < 300; ++i) seen.insert(At(model, i).address);
    EXPECT_EQ(seen.size(), 300u);
    EXPECT_EQ(seen.count("c299@x.org"), 0u);
    EXPECT_EQ(seen.count("new@x.org"), 1u);
  }
}

TEST(ContactListModelTest, PresenceAndTypingFollowTheContact) {
  ContactListModel model;
  model.SetRosterItem(Item("a@x.org", "Anna", ""));
  // A stranger's presence adds nobody.
  model.SetPresence(Presence("stranger@x.org/r", true, ShowState::kOnline, ""));
  model.SetTyping(XmppAddress("a@x.org/r"), true);
  model.Flush();
  ASSERT_EQ(g_list_model_get_n_items(model.model()), 1u);
  EXPECT_TRUE(At(model, 0).typing);
  const struct {
    bool available;
    ShowState show;
    ContactData::Presence expected;
  } cases[] = {
      {true, ShowState::kOnline, ContactData::Presence::kAvailable},
      {true, ShowState::kChat, ContactData::Presence::kAvailable},
      {true, ShowState::kAway, ContactData::Presence::kAway},
      {true, ShowState::kXa, ContactData::Presence::kAway},
      {true, ShowState::kDnd, ContactData::Presence::kBusy},
      {false, ShowState::kOnline, ContactData::Presence::kOffline},
  };
  for (const auto& c : cases) {
    model.SetPresence(Presence("a@x.org/r", c.available, c.show, "text"));
    model.Flush();
    EXPECT_EQ(At(model, 0).presence, c.expected) << static_cast<int>(c.show);
  }
  // Going offline ends typing and drops the status text.
  EXPECT_FALSE(At(model, 0).typing);
  EXPECT_EQ(At(model, 0).status, "");
}

TEST(ContactListModelTest, SortKeyOrdersNumbersAsNumbersAndSearchIgnoresCase) {
  ContactListModel model;
  model.SetRosterItem(Item("c10@x.org", "Contact 10", ""));
  model.SetRosterItem(Item("c9@x.org", "Contact 9", ""));
  model.SetRosterItem(Item("z@x.org", "ÉMILE", ""));
  model.Flush();
  EXPECT_LT(At(model, 1).sort_key, At(model, 0).sort_key);
  EXPECT_NE(At(model, 2).search_key.find("émile"), std::string::npos);
  EXPECT_NE(At(model, 2).search_key.find("z@x.org"), std::string::npos);
}

}  // namespace
}  // namespace vexalo
