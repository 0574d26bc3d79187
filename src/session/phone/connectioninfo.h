#pragma once

#include <cstdint>

#include "p2p/base/candidate.h"

namespace vexalo {

// One connection of a call's socket as the connection monitor saw it.
struct ConnectionInfo {
  bool best = false;
  bool readable = false;
  bool writable = false;
  bool timed_out = false;
  bool is_new = false;
  uint32_t rtt = 0;
  uint64_t bytes_sent = 0;
  uint32_t sent_rate = 0;
  uint64_t bytes_received = 0;
  uint32_t received_rate = 0;
  Candidate local_candidate;
  Candidate remote_candidate;
};

}  // namespace vexalo
