#pragma once

#include <gtk/gtk.h>

#include <string>

#include "base/runtime/signal.h"

namespace vexalo {

class AvatarPictures;
class ContactListModel;

// The contact list: a search field, a group and a sort choice, and a GtkListView over the
// filtered and sorted model, so that only the visible rows have widgets.
class ContactListView : public SlotHost {
 public:
  explicit ContactListView(ContactListModel* contacts);
  ~ContactListView() override;
  ContactListView(const ContactListView&) = delete;
  ContactListView& operator=(const ContactListView&) = delete;

  GtkWidget* widget() const { return box_; }
  // The selected contact's bare address; empty when none.
  std::string SelectedAddress() const;
  // How many contacts pass the search and group filter.
  guint VisibleCount() const;
  // Where the rows' pictures come from; without it every row shows the default picture.
  void SetPictures(AvatarPictures* pictures) { pictures_ = pictures; }
  // A contact was activated (double click or Enter): its bare address.
  Signal<const std::string&> SignalActivated;

 private:
  static gboolean Matches(gpointer item, gpointer self);
  static int Compare(gconstpointer a, gconstpointer b, gpointer self);
  static void SetupRow(GtkSignalListItemFactory* factory, GtkListItem* row, gpointer self);
  static void BindRow(GtkSignalListItemFactory* factory, GtkListItem* row, gpointer self);
  static void OnSearchChanged(GtkSearchEntry* entry, gpointer self);
  static void OnChoiceChanged(GObject* dropdown, GParamSpec* spec, gpointer self);
  void FillGroups();

  ContactListModel* contacts_;
  GtkWidget* box_;
  GtkWidget* list_ = nullptr;
  GtkWidget* search_;
  GtkWidget* group_choice_;
  GtkWidget* sort_choice_;
  GtkStringList* group_names_;
  GtkCustomFilter* filter_;
  GtkCustomSorter* sorter_;
  GtkSingleSelection* selection_;
  GtkFilterListModel* filtered_;
  std::string query_;  // casefolded
  std::string group_;  // empty: all groups
  bool by_presence_ = false;
  AvatarPictures* pictures_ = nullptr;
};

}  // namespace vexalo
