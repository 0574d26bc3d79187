#include "platform/powermonitor.h"

#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <ctime>

#include "base/runtime/logging.h"
#include "base/runtime/timeutils.h"

namespace vexalo {
namespace {

constexpr char kLogindName[] = "org.freedesktop.login1";
constexpr char kLogindPath[] = "/org/freedesktop/login1";
constexpr char kLogindManager[] = "org.freedesktop.login1.Manager";

bool IsCancelled(const GError* error) {
  return error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

}  // namespace

PowerMonitor::PowerMonitor(const std::string& bus_address) {
  std::string address = bus_address;
  if (address.empty()) {
    GError* error = nullptr;
    gchar* system = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (!system) {
      LOG(kInfo) << "PowerMonitor: no system bus (" << error->message
                 << "); suspend and resume go unnoticed";
      g_error_free(error);
      return;
    }
    address = system;
    g_free(system);
  }
  cancellable_ = g_cancellable_new();
  // A private connection of our own: the shared system connection would end the process
  // when the bus goes away, and we want to close ours when we are done.
  g_dbus_connection_new_for_address(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, cancellable_, OnConnected, this);
}

PowerMonitor::~PowerMonitor() {
  *alive_ = false;
  if (cancellable_) {
    // Pending replies still arrive, as cancelled, and then touch nothing of ours.
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
  }
  Disconnect();
}

void PowerMonitor::OnConnected(GObject*, GAsyncResult* result, gpointer self) {
  GError* error = nullptr;
  GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, &error);
  if (IsCancelled(error)) {
    g_error_free(error);
    return;
  }
  auto* monitor = static_cast<PowerMonitor*>(self);
  if (!connection) {
    LOG(kInfo) << "PowerMonitor: no system bus (" << error->message
               << "); suspend and resume go unnoticed";
    g_error_free(error);
    return;
  }
  monitor->connection_ = connection;
  g_dbus_connection_set_exit_on_close(connection, FALSE);
  monitor->closed_handler_ =
      g_signal_connect(connection, "closed", G_CALLBACK(OnClosed), monitor);
  monitor->sleep_subscription_ = g_dbus_connection_signal_subscribe(
      connection, kLogindName, kLogindManager, "PrepareForSleep", kLogindPath, nullptr,
      G_DBUS_SIGNAL_FLAGS_NONE, OnPrepareForSleep, monitor, nullptr);
  monitor->logind_watch_ = g_bus_watch_name_on_connection(
      connection, kLogindName, G_BUS_NAME_WATCHER_FLAGS_NONE, OnLogindAppeared,
      OnLogindVanished, monitor, nullptr);
}

void PowerMonitor::OnClosed(GDBusConnection*, gboolean, GError* error, gpointer self) {
  auto* monitor = static_cast<PowerMonitor*>(self);
  LOG(kInfo) << "PowerMonitor: lost the system bus (" << (error ? error->message : "closed")
             << "); suspend and resume go unnoticed";
  monitor->Disconnect();
}

void PowerMonitor::OnLogindAppeared(GDBusConnection*, const gchar*, const gchar* owner,
                                    gpointer self) {
  auto* monitor = static_cast<PowerMonitor*>(self);
  LOG(kVerbose) << "PowerMonitor: logind is " << owner;
  monitor->logind_owner_ = owner;
  // A logind that started anew while we were told to sleep will not tell us that we woke up:
  // we are running, so we are awake.
  if (monitor->suspended_) {
    monitor->Resume();
    return;
  }
  monitor->TakeSleepLock();
}

void PowerMonitor::OnLogindVanished(GDBusConnection*, const gchar*, gpointer self) {
  auto* monitor = static_cast<PowerMonitor*>(self);
  if (!monitor->logind_owner_.empty()) LOG(kVerbose) << "PowerMonitor: logind left the bus";
  monitor->logind_owner_.clear();
  // Its locks went with it.
  monitor->ReleaseSleepLock();
}

void PowerMonitor::OnPrepareForSleep(GDBusConnection*, const gchar* sender, const gchar*,
                                     const gchar*, const gchar*, GVariant* parameters,
                                     gpointer self) {
  auto* monitor = static_cast<PowerMonitor*>(self);
  // Anyone on the bus can send a signal with logind's path and interface, even to us alone;
  // only logind's own count (older GLib does not check the sender of a well-known name).
  if (monitor->logind_owner_.empty() || !sender || monitor->logind_owner_ != sender) return;
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) return;
  gboolean start = FALSE;
  g_variant_get(parameters, "(b)", &start);
  if (start) {
    LOG(kInfo) << "PowerBroadcast: PBT_APMQUERYSUSPEND : " << LocalAsctimeText();
    monitor->Suspend();
  } else {
    LOG(kInfo) << "PowerBroadcast: PBT_APMRESUMESUSPEND : " << LocalAsctimeText();
    monitor->Resume();
  }
}

void PowerMonitor::Suspend() {
  if (!suspended_) {
    suspended_ = true;
    std::shared_ptr<bool> alive = alive_;
    Suspending.Emit();
    // A listener destroyed us; the destructor has released the lock.
    if (!*alive) return;
  }
  // The listeners have signed out: logind may go on.
  ReleaseSleepLock();
}

void PowerMonitor::Resume() {
  if (suspended_) {
    suspended_ = false;
    std::shared_ptr<bool> alive = alive_;
    Resumed.Emit();
    if (!*alive) return;
  }
  TakeSleepLock();
}

void PowerMonitor::TakeSleepLock() {
  if (!connection_ || logind_owner_.empty() || suspended_ || inhibit_pending_ || lock_fd_ >= 0) {
    return;
  }
  inhibit_pending_ = true;
  inhibit_owner_ = logind_owner_;
  // Asked of this very logind: a lock from one that has left since would be worth nothing.
  g_dbus_connection_call_with_unix_fd_list(
      connection_, inhibit_owner_.c_str(), kLogindPath, kLogindManager, "Inhibit",
      g_variant_new("(ssss)", "sleep", "Vexalo", "sign out before sleeping", "delay"),
      G_VARIANT_TYPE("(h)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, cancellable_, OnInhibitReply,
      this);
}

void PowerMonitor::OnInhibitReply(GObject* source, GAsyncResult* result, gpointer self) {
  GUnixFDList* fds = nullptr;
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source),
                                                                    &fds, result, &error);
  if (IsCancelled(error)) {
    g_error_free(error);
    return;
  }
  auto* monitor = static_cast<PowerMonitor*>(self);
  monitor->inhibit_pending_ = false;
  int fd = -1;
  if (reply) {
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    // A duplicate with close-on-exec set: programs we start must not hold the machine awake.
    if (fds && index >= 0 && index < g_unix_fd_list_get_length(fds)) {
      fd = g_unix_fd_list_get(fds, index, &error);
    }
    g_variant_unref(reply);
  }
  if (fds) g_object_unref(fds);
  const bool stale = monitor->logind_owner_ != monitor->inhibit_owner_;
  if (fd < 0) {
    // Logged once: a refusal is a policy that will not change while we run.
    if (!stale && !monitor->inhibit_refusal_logged_) {
      monitor->inhibit_refusal_logged_ = true;
      LOG(kInfo) << "PowerMonitor: no sleep delay lock ("
                 << (error ? error->message : "no file descriptor in the reply")
                 << "); the machine may sleep before we sign out";
    }
    if (error) g_error_free(error);
    // Asked of a logind that has left: ask the one there now, if any.
    if (stale) monitor->TakeSleepLock();
    return;
  }
  if (error) g_error_free(error);
  // The lock is no longer wanted if the machine began to sleep while we waited for it; it is
  // worthless if logind went away (and perhaps came back as another process) meanwhile.
  if (monitor->suspended_ || stale) {
    close(fd);
    monitor->TakeSleepLock();
    return;
  }
  monitor->lock_fd_ = fd;
  LOG(kVerbose) << "PowerMonitor: holding the sleep delay lock";
}

void PowerMonitor::ReleaseSleepLock() {
  if (lock_fd_ < 0) return;
  close(lock_fd_);
  lock_fd_ = -1;
  LOG(kVerbose) << "PowerMonitor: released the sleep delay lock";
}

void PowerMonitor::Disconnect() {
  ReleaseSleepLock();
  logind_owner_.clear();
  inhibit_pending_ = false;
  if (!connection_) return;
  if (logind_watch_) g_bus_unwatch_name(logind_watch_);
  logind_watch_ = 0;
  if (sleep_subscription_) g_dbus_connection_signal_unsubscribe(connection_, sleep_subscription_);
  sleep_subscription_ = 0;
  g_signal_handler_disconnect(connection_, closed_handler_);
  closed_handler_ = 0;
  if (!g_dbus_connection_is_closed(connection_)) {
    g_dbus_connection_close(connection_, nullptr, nullptr, nullptr);
  }
  g_object_unref(connection_);
  connection_ = nullptr;
}

}  // namespace vexalo
