#include "ui/gtk/proxycredentialsdialog.h"

#include "app/settings.h"
#include "app/settingsstore.h"
#include "base/runtime/secrettext.h"

#include "ui/gtk/formdialog.h"

namespace vexalo {

ProxyCredentialsDialog::ProxyCredentialsDialog(GtkWindow* parent, SettingsStore* settings,
                                               std::function<void()> retry)
    : settings_(settings), retry_(std::move(retry)) {
  GtkWidget* box = nullptr;
  dialog_ = NewFormDialog(parent, "Proxy sign-in", "_Sign In", &box);
  GtkWidget* text = gtk_label_new("The proxy server needs a user name and password.");
  gtk_label_set_wrap(GTK_LABEL(text), TRUE);
  user_ = gtk_entry_new();
  gtk_editable_set_text(GTK_EDITABLE(user_), settings_->Current().proxy_username.c_str());
  password_ = gtk_password_entry_new();
  gtk_accessible_update_property(GTK_ACCESSIBLE(user_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Proxy user name", -1);
  gtk_accessible_update_property(GTK_ACCESSIBLE(password_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Proxy password", -1);
  gtk_entry_set_placeholder_text(GTK_ENTRY(user_), "User name");
  g_object_set(password_, "placeholder-text", "Password", "activates-default", TRUE, nullptr);
  gtk_box_append(GTK_BOX(box), text);
  gtk_box_append(GTK_BOX(box), user_);
  gtk_box_append(GTK_BOX(box), password_);
  g_signal_connect(dialog_, "response", G_CALLBACK(&ProxyCredentialsDialog::OnResponse), this);
  gtk_window_present(GTK_WINDOW(dialog_));
}

ProxyCredentialsDialog::~ProxyCredentialsDialog() {
  if (dialog_ != nullptr) {
    g_signal_handlers_disconnect_by_data(dialog_, this);
    gtk_window_destroy(GTK_WINDOW(dialog_));
  }
}

void ProxyCredentialsDialog::OnResponse(GtkDialog*, int response, gpointer data) {
  auto* self = static_cast<ProxyCredentialsDialog*>(data);
  if (response == GTK_RESPONSE_ACCEPT) {
    Settings record = self->settings_->Current();
    record.use_proxy_auth = true;
    record.proxy_username = gtk_editable_get_text(GTK_EDITABLE(self->user_));
    std::string clear = gtk_editable_get_text(GTK_EDITABLE(self->password_));
    record.proxy_password = ProtectedString::FromPlain(&clear);
    WipeString(&clear);
    gtk_editable_set_text(GTK_EDITABLE(self->password_), "");
    self->settings_->Save(record, kSettingsSourceUser);
  }
  g_signal_handlers_disconnect_by_data(self->dialog_, self);
  gtk_window_destroy(GTK_WINDOW(self->dialog_));
  self->dialog_ = nullptr;
  if (response == GTK_RESPONSE_ACCEPT) self->retry_();
}

}  // namespace vexalo
