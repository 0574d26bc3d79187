#pragma once

#include <sys/types.h>

#include <string>

namespace vexalo {

class RegistryFile;

// The files that guard the single instance of the user: a lock file held with an fcntl lock
// by the running instance (its pid is what the lock reports) and the hand-over socket beside
// it, in a folder of mode 0700.
struct InstancePaths {
  std::string dir;
  std::string lock_file;
  std::string socket;

  static InstancePaths In(const std::string& dir);
};

// Makes sure that one instance runs per user. The holder of the lock also listens on the
// hand-over socket and keeps its pid in the Process key's "pid" value while it runs.
class SingleInstance {
 public:
  // `process_key` is the registry path of the Process key.
  SingleInstance(InstancePaths paths, RegistryFile* registry, std::string process_key);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  struct Result {
    bool acquired = false;
    // The previous holder left its pid behind: it did not end in order.
    bool stale_pid = false;
    // The lock folder or file could not be used at all.
    bool failed = false;
  };

  // Takes the lock. When another instance holds it: without `forcestart`, asks it to show its
  // window; with `forcestart`, asks it to close, then sends SIGTERM, then SIGKILL to the pid
  // that the lock reports, each step followed by up to kForceRetries tries kForceRetryMs apart.
  Result Acquire(bool forcestart);
  // Zeroes "pid", removes the socket and drops the lock. Nothing when not held.
  void Release();

  bool held() const { return lock_fd_ >= 0 && held_; }
  // The listening hand-over socket while held, else -1.
  int listen_fd() const { return listen_fd_; }
  const InstancePaths& paths() const { return paths_; }

  // The pid of the process that holds the lock, or 0 when none does (or it cannot be told).
  static pid_t LockHolder(const std::string& lock_file);

  static constexpr int kForceRetries = 5;
  static constexpr int kForceRetryMs = 250;
  static constexpr int kCloseRequestTimeoutMs = 1000;

 private:
  bool TryLock();
  bool RetryLock();
  void TakeOver(Result* result);
  uint32_t ReadPid();
  void WritePid(uint32_t pid);
  void Listen();

  InstancePaths paths_;
  RegistryFile* registry_;
  std::string process_key_;
  int lock_fd_ = -1;
  int listen_fd_ = -1;
  bool held_ = false;
};

}  // namespace vexalo
