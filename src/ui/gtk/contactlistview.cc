#include "ui/gtk/contactlistview.h"

#include <adwaita.h>

#include "ui/gtk/avatarpictures.h"
#include "ui/gtk/contactitem.h"
#include "ui/gtk/contactlistmodel.h"

namespace vexalo {
namespace {

constexpr int kPictureSize = 32;
constexpr const char* kAllGroups = "All groups";

ContactData* DataOf(gconstpointer item) {
  return vexalo_contact_item_data(VEXALO_CONTACT_ITEM(const_cast<gpointer>(item)));
}

const char* PresenceClass(ContactData::Presence presence) {
  switch (presence) {
    case ContactData::Presence::kAvailable:
      return "success";
    case ContactData::Presence::kAway:
      return "warning";
    case ContactData::Presence::kBusy:
      return "error";
    case ContactData::Presence::kOffline:
      break;
  }
  return "dim-label";
}

}  // namespace

ContactListView::ContactListView(ContactListModel* contacts) : contacts_(contacts) {
  box_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  search_ = gtk_search_entry_new();
  g_object_set(search_, "placeholder-text", "Search contacts", nullptr);
  gtk_accessible_update_property(GTK_ACCESSIBLE(search_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Search contacts", -1);
  g_signal_connect(search_, "search-changed", G_CALLBACK(&ContactListView::OnSearchChanged), this);

  group_names_ = gtk_string_list_new(nullptr);
  gtk_string_list_append(group_names_, kAllGroups);
  group_choice_ = gtk_drop_down_new(G_LIST_MODEL(g_object_ref(group_names_)), nullptr);
  gtk_accessible_update_property(GTK_ACCESSIBLE(group_choice_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Group", -1);
  const char* sorts[] = {"By name", "By status", nullptr};
  sort_choice_ = gtk_drop_down_new_from_strings(sorts);
  gtk_accessible_update_property(GTK_ACCESSIBLE(sort_choice_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Sort", -1);
  g_signal_connect(group_choice_, "notify::selected",
                   G_CALLBACK(&ContactListView::OnChoiceChanged), this);
  g_signal_connect(sort_choice_, "notify::selected", G_CALLBACK(&ContactListView::OnChoiceChanged),
                   this);

  GtkWidget* choices = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_widget_set_hexpand(group_choice_, TRUE);
  gtk_box_append(GTK_BOX(choices), group_choice_);
  gtk_box_append(GTK_BOX(choices), sort_choice_);

  filter_ = gtk_custom_filter_new(&ContactListView::Matches, this, nullptr);
  sorter_ = gtk_custom_sorter_new(&ContactListView::Compare, this, nullptr);
  filtered_ = gtk_filter_list_model_new(G_LIST_MODEL(g_object_ref(contacts_->model())),
                                        GTK_FILTER(g_object_ref(filter_)));
  GtkSortListModel* sorted = gtk_sort_list_model_new(G_LIST_MODEL(g_object_ref(filtered_)),
                                                     GTK_SORTER(g_object_ref(sorter_)));
  // Sorting thousands of rows on the first load goes step by step, between frames.
  gtk_sort_list_model_set_incremental(sorted, TRUE);
  selection_ = gtk_single_selection_new(G_LIST_MODEL(sorted));
  gtk_single_selection_set_autoselect(selection_, FALSE);
  gtk_single_selection_set_can_unselect(selection_, TRUE);

  GtkListItemFactory* factory = gtk_signal_list_item_factory_new();
  g_signal_connect(factory, "setup", G_CALLBACK(&ContactListView::SetupRow), this);
  g_signal_connect(factory, "bind", G_CALLBACK(&ContactListView::BindRow), this);
  GtkWidget* list =
      gtk_list_view_new(GTK_SELECTION_MODEL(g_object_ref(selection_)), factory);
  gtk_widget_add_css_class(list, "navigation-sidebar");
  list_ = list;
  g_signal_connect(list, "activate", G_CALLBACK(+[](GtkListView*, guint position, gpointer self) {
                     auto* view = static_cast<ContactListView*>(self);
                     gpointer item = g_list_model_get_item(G_LIST_MODEL(view->selection_), position);
                     if (item == nullptr) return;
                     const std::string address = DataOf(item)->address;
                     g_object_unref(item);
                     view->SignalActivated(address);
                   }),
                   this);
  gtk_accessible_update_property(GTK_ACCESSIBLE(list), GTK_ACCESSIBLE_PROPERTY_LABEL, "Contacts",
                                 -1);
  GtkWidget* scroller = gtk_scrolled_window_new();
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), list);
  gtk_widget_set_vexpand(scroller, TRUE);

  gtk_box_append(GTK_BOX(box_), search_);
  gtk_box_append(GTK_BOX(box_), choices);
  gtk_box_append(GTK_BOX(box_), scroller);
  g_object_ref_sink(box_);
  contacts_->SignalGroupsChanged.Connect(this, [this] { FillGroups(); });
}

ContactListView::~ContactListView() {
  g_signal_handlers_disconnect_by_data(list_, this);
  g_signal_handlers_disconnect_by_data(search_, this);
  g_signal_handlers_disconnect_by_data(group_choice_, this);
  g_signal_handlers_disconnect_by_data(sort_choice_, this);
  // The filter and sorter call back into this object: detach them before it goes.
  gtk_filter_list_model_set_filter(filtered_, nullptr);
  gtk_custom_sorter_set_sort_func(sorter_, nullptr, nullptr, nullptr);
  g_object_unref(filtered_);
  g_object_unref(selection_);
  g_object_unref(filter_);
  g_object_unref(sorter_);
  g_object_unref(group_names_);
  g_object_unref(box_);
}

std::string ContactListView::SelectedAddress() const {
  gpointer item = gtk_single_selection_get_selected_item(selection_);
  return item != nullptr ? DataOf(item)->address : std::string();
}

guint ContactListView::VisibleCount() const {
  return g_list_model_get_n_items(G_LIST_MODEL(filtered_));
}

gboolean ContactListView::Matches(gpointer item, gpointer self) {
  const auto* view = static_cast<ContactListView*>(self);
  const ContactData* data = DataOf(item);
  if (!view->group_.empty() && data->group != view->group_) return FALSE;
  return view->query_.empty() || data->search_key.find(view->query_) != std::string::npos;
}

int ContactListView::Compare(gconstpointer a, gconstpointer b, gpointer self) {
  const auto* view = static_cast<ContactListView*>(self);
  const ContactData* left = DataOf(a);
  const ContactData* right = DataOf(b);
  if (view->by_presence_ && left->presence != right->presence) {
    return left->presence < right->presence ? -1 : 1;
  }
  const int by_name = left->sort_key.compare(right->sort_key);
  return by_name < 0 ? -1 : (by_name > 0 ? 1 : 0);
}

// Row: picture, name over status text, typing badge, presence.
void ContactListView::SetupRow(GtkSignalListItemFactory*, GtkListItem* row, gpointer) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  GtkWidget* picture = adw_avatar_new(kPictureSize, nullptr, TRUE);
  GtkWidget* texts = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_widget_set_hexpand(texts, TRUE);
  GtkWidget* name = gtk_label_new(nullptr);
  GtkWidget* status = gtk_label_new(nullptr);
  for (GtkWidget* label : {name, status}) {
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_box_append(GTK_BOX(texts), label);
  }
  gtk_widget_add_css_class(status, "dim-label");
  gtk_widget_add_css_class(status, "caption");
  GtkWidget* typing = gtk_label_new("typing…");
  gtk_widget_add_css_class(typing, "accent");
  GtkWidget* presence = gtk_label_new(nullptr);
  gtk_box_append(GTK_BOX(box), picture);
  gtk_box_append(GTK_BOX(box), texts);
  gtk_box_append(GTK_BOX(box), typing);
  gtk_box_append(GTK_BOX(box), presence);
  gtk_list_item_set_child(row, box);
}

void ContactListView::BindRow(GtkSignalListItemFactory*, GtkListItem* row, gpointer self) {
  const ContactData* data = DataOf(gtk_list_item_get_item(row));
  GtkWidget* picture = gtk_widget_get_first_child(gtk_list_item_get_child(row));
  GtkWidget* texts = gtk_widget_get_next_sibling(picture);
  GtkWidget* typing = gtk_widget_get_next_sibling(texts);
  GtkWidget* presence = gtk_widget_get_next_sibling(typing);
  GtkWidget* name = gtk_widget_get_first_child(texts);
  GtkWidget* status = gtk_widget_get_next_sibling(name);
  // Plain text setters: names and status texts come from the network and are never markup.
  adw_avatar_set_text(ADW_AVATAR(picture), data->DisplayName().c_str());
  AvatarPictures* pictures = static_cast<ContactListView*>(self)->pictures_;
  GdkTexture* texture = pictures != nullptr && !data->picture_hash.empty()
                            ? pictures->Texture(data->picture_hash,
                                                kPictureSize * gtk_widget_get_scale_factor(picture))
                            : nullptr;
  adw_avatar_set_custom_image(ADW_AVATAR(picture), GDK_PAINTABLE(texture));
  gtk_label_set_text(GTK_LABEL(name), data->DisplayName().c_str());
  const std::string& second = data->status.empty() ? data->subscription_note : data->status;
  gtk_label_set_text(GTK_LABEL(status), second.c_str());
  gtk_widget_set_visible(status, !second.empty());
  gtk_widget_set_visible(typing, data->typing);
  gtk_label_set_text(GTK_LABEL(presence), PresenceText(data->presence));
  for (const char* css : {"success", "warning", "error", "dim-label"}) {
    gtk_widget_remove_css_class(presence, css);
  }
  gtk_widget_add_css_class(presence, PresenceClass(data->presence));
}

void ContactListView::OnSearchChanged(GtkSearchEntry* entry, gpointer self) {
  auto* view = static_cast<ContactListView*>(self);
  const char* text = gtk_editable_get_text(GTK_EDITABLE(entry));
  gchar* folded = g_utf8_casefold(text, -1);
  view->query_ = folded;
  g_free(folded);
  gtk_filter_changed(GTK_FILTER(view->filter_), GTK_FILTER_CHANGE_DIFFERENT);
}

void ContactListView::OnChoiceChanged(GObject*, GParamSpec*, gpointer self) {
  auto* view = static_cast<ContactListView*>(self);
  const guint group = gtk_drop_down_get_selected(GTK_DROP_DOWN(view->group_choice_));
  const char* name =
      group == 0 || group == GTK_INVALID_LIST_POSITION
          ? nullptr
          : gtk_string_list_get_string(view->group_names_, group);
  view->group_ = name != nullptr ? name : "";
  view->by_presence_ = gtk_drop_down_get_selected(GTK_DROP_DOWN(view->sort_choice_)) == 1;
  gtk_filter_changed(GTK_FILTER(view->filter_), GTK_FILTER_CHANGE_DIFFERENT);
  gtk_sorter_changed(GTK_SORTER(view->sorter_), GTK_SORTER_CHANGE_DIFFERENT);
}

void ContactListView::FillGroups() {
  const std::string chosen = group_;
  const std::vector<std::string> groups = contacts_->Groups();
  std::vector<const char*> names;
  names.push_back(kAllGroups);
  guint selected = 0;
  for (const std::string& group : groups) {
    if (group == chosen) selected = static_cast<guint>(names.size());
    names.push_back(group.c_str());
  }
  names.push_back(nullptr);
  g_signal_handlers_block_by_func(group_choice_, reinterpret_cast<gpointer>(&OnChoiceChanged), this);
  gtk_string_list_splice(group_names_, 0, g_list_model_get_n_items(G_LIST_MODEL(group_names_)),
                         names.data());
  gtk_drop_down_set_selected(GTK_DROP_DOWN(group_choice_), selected);
  g_signal_handlers_unblock_by_func(group_choice_, reinterpret_cast<gpointer>(&OnChoiceChanged), this);
  group_ = selected == 0 ? std::string() : chosen;
}

}  // namespace vexalo
