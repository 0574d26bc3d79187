#pragma once

#include <gtk/gtk.h>

namespace vexalo {

// A modal dialog with Cancel and an accepting button in its header bar, the accepting one
// the default; `*content` receives the box to fill.
GtkWidget* NewFormDialog(GtkWindow* parent, const char* title, const char* accept,
                         GtkWidget** content);

}  // namespace vexalo
