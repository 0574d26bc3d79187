#include "ui/gtk/statusbox.h"

#include <adwaita.h>

#include "ui/gtk/avatarpictures.h"

namespace vexalo {
namespace {

// In the order of the choice's entries.
enum Choice : guint { kAvailable = 0, kAway = 1, kBusy = 2, kInvisible = 3 };

constexpr int kPictureSize = 40;

}  // namespace

StatusBox::StatusBox() {
  box_ = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  const char* choices[] = {"Available", "Away", "Busy", "Invisible", nullptr};
  choice_ = gtk_drop_down_new_from_strings(choices);
  gtk_accessible_update_property(GTK_ACCESSIBLE(choice_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "My status", -1);
  text_ = gtk_entry_new();
  gtk_entry_set_placeholder_text(GTK_ENTRY(text_), "Status text");
  gtk_widget_set_hexpand(text_, TRUE);
  // Alt+S reaches the text from anywhere in the window.
  GtkWidget* label = gtk_label_new_with_mnemonic("_Status");
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), text_);
  picture_ = adw_avatar_new(kPictureSize, nullptr, TRUE);
  gtk_accessible_update_property(GTK_ACCESSIBLE(picture_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "My picture", -1);
  gtk_box_append(GTK_BOX(box_), picture_);
  gtk_box_append(GTK_BOX(box_), label);
  gtk_box_append(GTK_BOX(box_), choice_);
  gtk_box_append(GTK_BOX(box_), text_);
  // Recent texts from the service's history; picking one sets it.
  history_ = g_menu_new();
  history_button_ = gtk_menu_button_new();
  gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(history_button_), "document-open-recent-symbolic");
  gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(history_button_), G_MENU_MODEL(history_));
  gtk_widget_set_tooltip_text(history_button_, "Recent Status Texts");
  gtk_accessible_update_property(GTK_ACCESSIBLE(history_button_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Recent status texts", -1);
  gtk_widget_set_visible(history_button_, FALSE);
  gtk_box_append(GTK_BOX(box_), history_button_);
  GSimpleActionGroup* actions = g_simple_action_group_new();
  GSimpleAction* recent = g_simple_action_new("recent", G_VARIANT_TYPE_STRING);
  g_signal_connect(recent, "activate", G_CALLBACK(&StatusBox::OnRecent), this);
  g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(recent));
  g_object_unref(recent);
  gtk_widget_insert_action_group(box_, "status", G_ACTION_GROUP(actions));
  g_object_unref(actions);
  g_signal_connect(choice_, "notify::selected", G_CALLBACK(&StatusBox::OnChoice), this);
  g_signal_connect(text_, "activate", G_CALLBACK(&StatusBox::OnActivate), this);
  g_object_ref_sink(box_);
}

StatusBox::~StatusBox() {
  g_signal_handlers_disconnect_by_data(choice_, this);
  g_signal_handlers_disconnect_by_data(text_, this);
  gtk_widget_insert_action_group(box_, "status", nullptr);
  g_object_unref(box_);
  g_object_unref(history_);
}

void StatusBox::SetHistory(const std::vector<std::string>& texts) {
  g_menu_remove_all(history_);
  for (const std::string& text : texts) {
    // A menu label is plain text with "_" marking access keys: doubled, it shows as itself.
    std::string label;
    for (char c : text) label += c == '_' ? std::string("__") : std::string(1, c);
    GMenuItem* item = g_menu_item_new(label.c_str(), nullptr);
    g_menu_item_set_action_and_target_value(item, "status.recent", g_variant_new_string(text.c_str()));
    g_menu_append_item(history_, item);
    g_object_unref(item);
  }
  gtk_widget_set_visible(history_button_, !texts.empty());
}

void StatusBox::OnRecent(GSimpleAction*, GVariant* text, gpointer self) {
  auto* box = static_cast<StatusBox*>(self);
  gtk_editable_set_text(GTK_EDITABLE(box->text_), g_variant_get_string(text, nullptr));
  box->Emit();
}

void StatusBox::Reset() {
  resetting_ = true;
  gtk_drop_down_set_selected(GTK_DROP_DOWN(choice_), kAvailable);
  gtk_editable_set_text(GTK_EDITABLE(text_), "");
  resetting_ = false;
}

void StatusBox::SetPicture(const std::string& name, AvatarPictures* pictures,
                           const std::string& hash) {
  adw_avatar_set_text(ADW_AVATAR(picture_), name.c_str());
  GdkTexture* texture =
      pictures != nullptr && !hash.empty()
          ? pictures->Texture(hash, kPictureSize * gtk_widget_get_scale_factor(picture_))
          : nullptr;
  adw_avatar_set_custom_image(ADW_AVATAR(picture_), GDK_PAINTABLE(texture));
}

void StatusBox::Choose(ShowState show, bool invisible) {
  guint choice = kAvailable;
  if (invisible) {
    choice = kInvisible;
  } else if (show == ShowState::kAway || show == ShowState::kXa) {
    choice = kAway;
  } else if (show == ShowState::kDnd) {
    choice = kBusy;
  }
  gtk_drop_down_set_selected(GTK_DROP_DOWN(choice_), choice);
}

void StatusBox::OnChoice(GObject*, GParamSpec*, gpointer self) {
  static_cast<StatusBox*>(self)->Emit();
}

void StatusBox::OnActivate(GtkEntry*, gpointer self) { static_cast<StatusBox*>(self)->Emit(); }

void StatusBox::Emit() {
  if (resetting_) return;
  const guint choice = gtk_drop_down_get_selected(GTK_DROP_DOWN(choice_));
  const ShowState show = choice == kAway ? ShowState::kAway
                         : choice == kBusy ? ShowState::kDnd
                                           : ShowState::kOnline;
  SignalChanged(show, choice == kInvisible, std::string(gtk_editable_get_text(GTK_EDITABLE(text_))));
}

}  // namespace vexalo
