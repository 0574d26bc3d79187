#include "ui/gtk/formdialog.h"

#include <initializer_list>

namespace vexalo {

GtkWidget* NewFormDialog(GtkWindow* parent, const char* title, const char* accept,
                         GtkWidget** content) {
  GtkWidget* dialog = gtk_dialog_new_with_buttons(
      title, parent,
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT |
                                  GTK_DIALOG_USE_HEADER_BAR),
      "_Cancel", GTK_RESPONSE_CANCEL, accept, GTK_RESPONSE_ACCEPT, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  GtkWidget* box = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_box_set_spacing(GTK_BOX(box), 6);
  for (auto margin : {gtk_widget_set_margin_top, gtk_widget_set_margin_bottom,
                      gtk_widget_set_margin_start, gtk_widget_set_margin_end}) {
    margin(box, 12);
  }
  *content = box;
  return dialog;
}

}  // namespace vexalo
