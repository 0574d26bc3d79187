#pragma once

// For tests whose threads each live in a network namespace that a script made.

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vexalo {

// Moves the calling thread into the named namespace (/run/netns/NAME).
inline bool EnterNamespace(const std::string& name) {
  const int fd = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = setns(fd, CLONE_NEWNET) == 0;
  close(fd);
  return ok;
}

// The script's word to the test, empty when unset.
inline std::string ScriptEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace vexalo
