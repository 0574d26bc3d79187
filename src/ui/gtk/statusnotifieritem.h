#pragma once

#include <gio/gio.h>

#include <string>

#include "base/runtime/signal.h"
#include "ui/gtk/dbusmenu.h"

namespace vexalo {

// A tray icon with the StatusNotifierItem protocol (GTK 4 has none of its own): the item and
// its menu are exported on the session bus under a name of their own, and registered with the
// tray's watcher whenever one is there. Without a watcher, or without a session bus, it
// quietly does nothing; a watcher that starts later still gets the item.
class StatusNotifierItem {
 public:
  static constexpr const char* kInterface = "org.kde.StatusNotifierItem";
  static constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
  static constexpr const char* kPath = "/StatusNotifierItem";
  static constexpr const char* kMenuPath = "/MenuBar";

  StatusNotifierItem(std::string id, std::string title, std::string icon_name);
  ~StatusNotifierItem();
  StatusNotifierItem(const StatusNotifierItem&) = delete;
  StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

  // On `connection`, or on the session bus, reached without blocking, when null.
  void Start(GDBusConnection* connection = nullptr);

  DBusMenu* menu() { return &menu_; }
  void SetToolTip(const std::string& text);
  // "Active", "Passive" or "NeedsAttention".
  void SetStatus(const std::string& status);

  // The name the item is exported under; empty until it is owned.
  const std::string& bus_name() const { return bus_name_; }
  // Whether a watcher took the item.
  bool registered() const { return registered_; }

  // The host's primary click (usually: show or hide the window).
  Signal<> SignalActivate;
  Signal<> SignalRegistered;

 private:
  static void OnBus(GObject* source, GAsyncResult* result, gpointer self);
  static void OnNameAcquired(GDBusConnection* connection, const char* name, gpointer self);
  static void OnWatcherAppeared(GDBusConnection* connection, const char* name, const char* owner,
                                gpointer self);
  static void OnWatcherVanished(GDBusConnection* connection, const char* name, gpointer self);
  static void OnRegistered(GObject* source, GAsyncResult* result, gpointer self);
  static void OnMethodCall(GDBusConnection* connection, const char* sender, const char* path,
                           const char* interface, const char* method, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer self);
  static GVariant* OnGetProperty(GDBusConnection* connection, const char* sender, const char* path,
                                 const char* interface, const char* property, GError** error,
                                 gpointer self);
  void Export(GDBusConnection* connection);
  void Emit(const char* signal, GVariant* parameters);

  std::string id_;
  std::string title_;
  std::string icon_name_;
  std::string tool_tip_;
  std::string status_ = "Active";
  DBusMenu menu_;
  GCancellable* cancellable_;
  GDBusConnection* connection_ = nullptr;
  std::string bus_name_;
  guint registration_ = 0;
  guint name_owner_ = 0;
  guint watcher_watch_ = 0;
  bool registered_ = false;
};

}  // namespace vexalo
