#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>

#include "base/runtime/signal.h"

namespace vexalo {

// Suspend and resume of the machine, as logind announces them on the system bus
// (org.freedesktop.login1.Manager.PrepareForSleep). While awake the monitor holds a "delay"
// sleep inhibitor, so that logind waits for the Suspending listeners (which sign out) before
// the machine sleeps; the lock is released as soon as they have run and taken again on resume.
//
// Without a system bus or logind (containers, CI) the monitor logs once and stays inert.
// Main thread only: it works on the GLib main context that is the thread default when it is
// constructed.
class PowerMonitor {
 public:
  // Watches the system bus, or the bus at `bus_address` (a D-Bus address such as
  // "unix:path=/run/dbus/system_bus_socket") when not empty.
  explicit PowerMonitor(const std::string& bus_address = {});
  ~PowerMonitor();
  PowerMonitor(const PowerMonitor&) = delete;
  PowerMonitor& operator=(const PowerMonitor&) = delete;

  // The machine is about to sleep; listeners may destroy the monitor.
  Signal<> Suspending;
  // The machine woke up (or a suspend was called off).
  Signal<> Resumed;

  // Connected to the bus and listening.
  bool IsConnected() const { return connection_ != nullptr; }
  // Holds logind's sleep delay lock.
  bool HoldsSleepLock() const { return lock_fd_ >= 0; }
  bool IsSuspended() const { return suspended_; }

 private:
  static void OnConnected(GObject* source, GAsyncResult* result, gpointer self);
  static void OnClosed(GDBusConnection* connection, gboolean remote_peer_vanished, GError* error,
                       gpointer self);
  static void OnLogindAppeared(GDBusConnection* connection, const gchar* name,
                               const gchar* owner, gpointer self);
  static void OnLogindVanished(GDBusConnection* connection, const gchar* name, gpointer self);
  static void OnPrepareForSleep(GDBusConnection* connection, const gchar* sender,
                                const gchar* path, const gchar* interface, const gchar* signal,
                                GVariant* parameters, gpointer self);
  static void OnInhibitReply(GObject* source, GAsyncResult* result, gpointer self);

  void Suspend();
  void Resume();
  void TakeSleepLock();
  void ReleaseSleepLock();
  // Drops everything that refers to the connection; the monitor is inert afterwards.
  void Disconnect();

  GCancellable* cancellable_ = nullptr;
  GDBusConnection* connection_ = nullptr;
  gulong closed_handler_ = 0;
  guint sleep_subscription_ = 0;
  guint logind_watch_ = 0;
  std::string logind_owner_;  // unique bus name of logind, empty while it is absent
  bool inhibit_pending_ = false;
  std::string inhibit_owner_;  // the logind asked for the pending lock
  int lock_fd_ = -1;
  bool suspended_ = false;
  bool inhibit_refusal_logged_ = false;
  // Tells the handlers whether a listener destroyed the monitor during an emission.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vexalo
