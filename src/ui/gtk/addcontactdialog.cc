#include "ui/gtk/addcontactdialog.h"

#include "ui/gtk/formdialog.h"

namespace vexalo {

AddContactDialog::AddContactDialog(GtkWindow* parent, Done done) : done_(std::move(done)) {
  GtkWidget* box = nullptr;
  dialog_ = NewFormDialog(parent, "Add Contact", "_Add", &box);
  address_ = gtk_entry_new();
  gtk_entry_set_placeholder_text(GTK_ENTRY(address_), "name@example.org");
  gtk_entry_set_activates_default(GTK_ENTRY(address_), TRUE);
  text_ = gtk_entry_new();
  gtk_entry_set_placeholder_text(GTK_ENTRY(text_), "Invitation text (optional)");
  gtk_accessible_update_property(GTK_ACCESSIBLE(address_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Contact address", -1);
  gtk_accessible_update_property(GTK_ACCESSIBLE(text_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Invitation text", -1);
  gtk_box_append(GTK_BOX(box), address_);
  gtk_box_append(GTK_BOX(box), text_);
  g_signal_connect(dialog_, "response", G_CALLBACK(&AddContactDialog::OnResponse), this);
  gtk_window_present(GTK_WINDOW(dialog_));
}

AddContactDialog::~AddContactDialog() {
  if (dialog_ == nullptr) return;
  g_signal_handlers_disconnect_by_data(dialog_, this);
  gtk_window_destroy(GTK_WINDOW(dialog_));
}

void AddContactDialog::OnResponse(GtkDialog*, int response, gpointer data) {
  auto* self = static_cast<AddContactDialog*>(data);
  const std::string address = gtk_editable_get_text(GTK_EDITABLE(self->address_));
  const std::string text = gtk_editable_get_text(GTK_EDITABLE(self->text_));
  g_signal_handlers_disconnect_by_data(self->dialog_, self);
  gtk_window_destroy(GTK_WINDOW(self->dialog_));
  self->dialog_ = nullptr;
  if (response == GTK_RESPONSE_ACCEPT && !address.empty()) self->done_(address, text);
}

}  // namespace vexalo
