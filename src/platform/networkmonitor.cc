#include "platform/networkmonitor.h"

#include "base/runtime/logging.h"

namespace vexalo {

NetworkMonitor::NetworkMonitor() : NetworkMonitor(g_network_monitor_get_default()) {}

NetworkMonitor::NetworkMonitor(GNetworkMonitor* monitor) {
  if (!monitor) return;
  // GIO's default monitor is a process-wide singleton handed out without a reference.
  monitor_ = G_NETWORK_MONITOR(g_object_ref(monitor));
  alive_ = g_network_monitor_get_network_available(monitor_);
  handler_ = g_signal_connect(monitor_, "network-changed", G_CALLBACK(OnGioNetworkChanged), this);
  LOG(kVerbose) << "NetworkMonitor: " << G_OBJECT_TYPE_NAME(monitor_) << ", network "
                << (alive_ ? "available" : "unavailable");
}

NetworkMonitor::~NetworkMonitor() {
  if (!monitor_) return;
  g_signal_handler_disconnect(monitor_, handler_);
  g_object_unref(monitor_);
}

bool NetworkMonitor::IsNetworkAlive() const {
  return monitor_ ? g_network_monitor_get_network_available(monitor_) != FALSE : true;
}

void NetworkMonitor::OnGioNetworkChanged(GNetworkMonitor*, gboolean available, gpointer self) {
  auto* monitor = static_cast<NetworkMonitor*>(self);
  const bool alive = available != FALSE;
  if (alive == monitor->alive_) return;
  monitor->alive_ = alive;
  LOG(kInfo) << "NetworkMonitor: network " << (alive ? "available" : "unavailable");
  // Last statement: a listener may destroy this monitor.
  monitor->NetworkChanged.Emit(alive);
}

}  // namespace vexalo
