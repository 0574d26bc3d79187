#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace vexalo {

// Asks for a contact's address and an invitation text; hands both on when the user adds.
class AddContactDialog {
 public:
  using Done = std::function<void(const std::string& address, const std::string& text)>;
  AddContactDialog(GtkWindow* parent, Done done);
  ~AddContactDialog();
  AddContactDialog(const AddContactDialog&) = delete;
  AddContactDialog& operator=(const AddContactDialog&) = delete;

 private:
  static void OnResponse(GtkDialog* dialog, int response, gpointer self);

  Done done_;
  GtkWidget* dialog_;
  GtkWidget* address_;
  GtkWidget* text_;
};

}  // namespace vexalo
