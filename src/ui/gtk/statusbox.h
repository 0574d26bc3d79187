#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "base/runtime/signal.h"
#include "xmpp/presence/presencestatus.h"

namespace vexalo {

class AvatarPictures;

// The user's own status: available, away, busy or invisible, and a status text sent when
// Enter is pressed in it.
class StatusBox {
 public:
  StatusBox();
  ~StatusBox();
  StatusBox(const StatusBox&) = delete;
  StatusBox& operator=(const StatusBox&) = delete;

  GtkWidget* widget() const { return box_; }
  // Back to available with no text (a new session).
  void Reset();
  // The recent status texts offered for the current show, newest first; none hides the menu.
  void SetHistory(const std::vector<std::string>& texts);
  // Picks a status as if the user had (the tray's menu).
  void Choose(ShowState show, bool invisible);
  // Own picture `hash` from `pictures`; the default picture drawn from `name` without one.
  void SetPicture(const std::string& name, AvatarPictures* pictures, const std::string& hash);

  // show, invisible, text
  Signal<ShowState, bool, const std::string&> SignalChanged;

 private:
  static void OnChoice(GObject* dropdown, GParamSpec* spec, gpointer self);
  static void OnActivate(GtkEntry* entry, gpointer self);
  void Emit();

  GtkWidget* box_;
  GtkWidget* choice_;
  GtkWidget* text_;
  GtkWidget* picture_;
  GtkWidget* history_button_;
  GMenu* history_;
  static void OnRecent(GSimpleAction* action, GVariant* text, gpointer self);
  bool resetting_ = false;
};

}  // namespace vexalo
