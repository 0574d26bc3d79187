#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "base/runtime/signal.h"
#include "ui/gtk/statusnotifieritem.h"
#include "xmpp/presence/presencestatus.h"

namespace vexalo {

class StatusBox;

// The program's tray icon: a click shows or hides the window; its menu shows or hides it too,
// sets the own status and quits.
class TrayIcon : public SlotHost {
 public:
  TrayIcon(GtkWindow* window, StatusBox* status, std::function<void()> quit);
  ~TrayIcon() override;
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // On the session bus (or `connection`); nothing happens without a tray.
  void Start(GDBusConnection* connection = nullptr) { item_.Start(connection); }
  StatusNotifierItem* item() { return &item_; }

 private:
  static void OnVisible(GObject* window, GParamSpec* spec, gpointer self);
  void ToggleWindow();
  void OnStatus(ShowState show, bool invisible, const std::string& text);

  GtkWindow* window_;
  StatusBox* status_;
  StatusNotifierItem item_;
  int show_item_ = 0;
  // Available, away, busy, invisible.
  int status_items_[4] = {};
};

}  // namespace vexalo
