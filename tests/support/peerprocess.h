#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/testfiles.h"

namespace vexalo {

// A free TCP port on 127.0.0.1 (free when asked; the caller binds it soon after).
uint16_t FreeLoopbackPort();

// Whether 127.0.0.1:`port` accepts a TCP connection now.
bool IsLoopbackPortListening(uint16_t port);

// A real server program started by a test, stopped (by its pid) when the object goes.
class PeerProcess {
 public:
  PeerProcess() = default;
  ~PeerProcess() { Stop(); }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  // Starts `argv` with its output in `log_path` and waits until 127.0.0.1:`port` accepts
  // connections. False (with the reason in `error`) when the program is missing, exits, or
  // does not listen within a few seconds.
  bool Start(const std::vector<std::string>& argv, uint16_t port, const std::string& log_path,
             std::string* error);
  void Stop();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// Runs a command to completion; its exit status, or -1.
int RunCommand(const std::vector<std::string>& argv);

}  // namespace vexalo
