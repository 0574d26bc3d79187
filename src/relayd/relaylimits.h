#pragma once

#include <cstddef>
#include <cstdint>

namespace vexalo {

// Bounds that keep one client, or all of them, from using up the relay.
struct RelayLimits {
  size_t max_allocations = 1000;
  size_t max_allocations_per_client = 16;  // per client IP address
  size_t max_connections = 1000;           // TCP and SSL-TCP clients, together
  size_t max_connections_per_client = 32;
  size_t max_sessions = 10000;
  uint32_t bandwidth_bytes_per_second = 1000000;  // per allocation, both directions together
  int idle_timeout_ms = 900000;     // more than the clients' 10-minute refresh
  int session_lifetime_ms = 3600000;
  bool allow_loopback_peers = false;  // for tests on one machine
};

}  // namespace vexalo
