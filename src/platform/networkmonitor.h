#pragma once

#include <gio/gio.h>

#include "base/runtime/signal.h"

namespace vexalo {

// Whether the machine has a usable network, and news when that changes: GIO's network monitor
// (netlink, NetworkManager or the sandbox portal, whichever GIO picks). "Usable" means a
// default route exists, IPv4 or IPv6; when GIO cannot tell, the network counts as alive, so
// that a reconnect is never held back by a missing answer.
//
// Main thread only. GIO reports changes on the GLib main context that was the thread default
// when its monitor was made, so the first NetworkMonitor belongs on the main thread.
class NetworkMonitor {
 public:
  // Watches the system's monitor.
  NetworkMonitor();
  // Watches `monitor` (a reference is kept); null means "cannot tell": always alive, no news.
  explicit NetworkMonitor(GNetworkMonitor* monitor);
  ~NetworkMonitor();
  NetworkMonitor(const NetworkMonitor&) = delete;
  NetworkMonitor& operator=(const NetworkMonitor&) = delete;

  bool IsNetworkAlive() const;

  // The new availability, only when it differs from the last one reported (GIO also reports
  // route changes that leave availability as it was).
  Signal<bool> NetworkChanged;

 private:
  static void OnGioNetworkChanged(GNetworkMonitor* monitor, gboolean available, gpointer self);

  GNetworkMonitor* monitor_ = nullptr;
  gulong handler_ = 0;
  bool alive_ = true;
};

}  // namespace vexalo
