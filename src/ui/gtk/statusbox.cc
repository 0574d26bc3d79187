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
  g_signal_connect(choice_, "notify::selected", G_CALLBACK(&StatusBox::OnChoice), this);
  g_signal_connect(text_, "activate", G_CALLBACK(&StatusBox::OnActivate), this);
  g_object_ref_sink(box_);
}

StatusBox::~StatusBox() {
  g_signal_handlers_disconnect_by_data(choice_, this);
  g_signal_handlers_disconnect_by_data(text_, this);
  g_object_unref(box_);
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
