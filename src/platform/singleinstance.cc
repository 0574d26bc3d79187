#include "platform/singleinstance.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "base/runtime/logging.h"
#include "platform/registryfile.h"
#include "platform/runninginstance.h"
#include "platform/xdgpaths.h"

namespace vexalo {

namespace {

constexpr char kPidValue[] = "pid";

}  // namespace

InstancePaths InstancePaths::In(const std::string& dir) {
  return InstancePaths{dir, dir + "/instance.lock", dir + "/instance.sock"};
}

SingleInstance::SingleInstance(InstancePaths paths, RegistryFile* registry, std::string process_key)
    : paths_(std::move(paths)), registry_(registry), process_key_(std::move(process_key)) {}

SingleInstance::~SingleInstance() {
  Release();
  if (lock_fd_ >= 0) close(lock_fd_);
}

pid_t SingleInstance::LockHolder(const std::string& lock_file) {
  const int fd = open(lock_file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  struct flock query = {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  const int rc = fcntl(fd, F_GETLK, &query);
  // Closing drops fcntl locks of this process on the file, so never ask from the holder.
  close(fd);
  if (rc != 0 || query.l_type == F_UNLCK || query.l_pid <= 0) return 0;
  return query.l_pid;
}

bool SingleInstance::TryLock() {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return fcntl(lock_fd_, F_SETLK, &lock) == 0;
}

bool SingleInstance::RetryLock() {
  for (int i = 0; i < kForceRetries; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kForceRetryMs));
    if (TryLock()) return true;
  }
  return false;
}

uint32_t SingleInstance::ReadPid() {
  // Anything but a dword reads as 0.
  const std::optional<RegValue> value = registry_->Read().QueryValue(process_key_, kPidValue);
  return value ? value->AsDword().value_or(0) : 0;
}

void SingleInstance::WritePid(uint32_t pid) {
  if (!registry_->Edit([&](RegistryTree& tree) {
        tree.SetValue(process_key_, kPidValue, RegValue::Dword(pid));
      })) {
    LOG(kWarning) << "SingleInstance - cannot record pid " << pid;
  }
}

void SingleInstance::Listen() {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (paths_.socket.size() >= sizeof(address.sun_path)) {
    LOG(kError) << "SingleInstance::Listen - socket path too long: " << paths_.socket;
    return;
  }
  memcpy(address.sun_path, paths_.socket.data(), paths_.socket.size());
  // Whatever socket file is there belongs to a holder that is gone: we hold the lock.
  unlink(paths_.socket.c_str());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(fd, 16) != 0) {
    LOG_ERRNO(kError) << "SingleInstance::Listen - no hand-over socket at " << paths_.socket;
    if (fd >= 0) close(fd);
    return;
  }
  listen_fd_ = fd;
}

void SingleInstance::TakeOver(Result* result) {
  held_ = true;
  result->acquired = true;
  result->stale_pid = ReadPid() != 0;
  WritePid(static_cast<uint32_t>(getpid()));
  Listen();
}

SingleInstance::Result SingleInstance::Acquire(bool forcestart) {
  Result result;
  if (held()) {
    result.acquired = true;
    return result;
  }
  if (!XdgPaths::EnsurePrivateDir(paths_.dir)) {
    LOG_ERRNO(kError) << "SingleInstance::Acquire - cannot use the folder " << paths_.dir;
    result.failed = true;
    return result;
  }
  if (lock_fd_ < 0) {
    lock_fd_ = open(paths_.lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  }
  if (lock_fd_ < 0) {
    LOG_ERRNO(kError) << "SingleInstance::Acquire - cannot open " << paths_.lock_file;
    result.failed = true;
    return result;
  }
  if (TryLock()) {
    TakeOver(&result);
    return result;
  }

  std::optional<RunningInstance> running = FindRunningInstance(paths_.socket);
  if (!forcestart) {
    if (running) {
      const HandOverResult answer = HandOver(std::move(*running), kInstanceRestore, {});
      LOG(kInfo) << "SingleInstance::Acquire - asked the running instance to show itself: "
                 << HandOverResultName(answer);
    }
  } else {
    if (running) {
      LOG(kWarning) << "SingleInstance::Acquire - asking the running instance to close";
      HandOver(std::move(*running), kInstanceClose, {}, kCloseRequestTimeoutMs);
    }
    bool taken = RetryLock();
    for (int signal_number : {SIGTERM, SIGKILL}) {
      if (taken) break;
      const pid_t holder = LockHolder(paths_.lock_file);
      if (holder > 0 && holder != getpid()) {
        LOG(kWarning) << "SingleInstance::Acquire - sending signal " << signal_number << " to pid "
                      << holder;
        kill(holder, signal_number);
      }
      taken = RetryLock();
    }
    if (taken) {
      TakeOver(&result);
      return result;
    }
    LOG(kError) << "SingleInstance::Acquire - the running instance would not end";
  }
  close(lock_fd_);
  lock_fd_ = -1;
  return result;
}

void SingleInstance::Release() {
  if (!held()) return;
  if (listen_fd_ >= 0) {
    // Still under the lock, so the file removed is ours and not a successor's.
    unlink(paths_.socket.c_str());
    close(listen_fd_);
    listen_fd_ = -1;
  }
  WritePid(0);
  held_ = false;
  close(lock_fd_);
  lock_fd_ = -1;
}

}  // namespace vexalo
