#include "platform/registryfile.h"

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string_view>
#include <thread>

#include "base/runtime/logging.h"
#include "base/runtime/timeutils.h"
#include "platform/xdgpaths.h"

namespace vexalo {

namespace {

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace

RegistryFile::RegistryFile(std::string path) : path_(std::move(path)) {
  gchar* dir = g_path_get_dirname(path_.c_str());
  dir_ = dir;
  g_free(dir);
}

RegistryFile::LoadResult RegistryFile::Load(RegistryTree* tree) {
  *tree = RegistryTree();
  ScopedFd fd(open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return LoadResult::kMissing;
    LOG_ERRNO(kWarning) << "RegistryFile::Load - cannot open " << path_;
    return LoadResult::kError;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    LOG(kWarning) << "RegistryFile::Load - " << path_ << " is not a regular file";
    return LoadResult::kError;
  }
  std::string text;
  char buffer[16384];
  for (;;) {
    const ssize_t got = read(fd.get(), buffer, sizeof(buffer));
    if (got < 0) {
      if (errno == EINTR) continue;
      LOG_ERRNO(kWarning) << "RegistryFile::Load - cannot read " << path_;
      return LoadResult::kError;
    }
    if (got == 0) break;
    if (text.size() + static_cast<size_t>(got) > kMaxFileBytes) {
      LOG(kWarning) << "RegistryFile::Load - " << path_ << " is larger than " << kMaxFileBytes
                    << " bytes";
      return LoadResult::kUnparsable;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
  std::optional<RegistryTree> parsed = RegistryTree::FromText(text);
  if (!parsed) return LoadResult::kUnparsable;
  *tree = std::move(*parsed);
  return LoadResult::kOk;
}

int RegistryFile::Lock() {
  if (!XdgPaths::EnsurePrivateDir(dir_)) {
    LOG_ERRNO(kWarning) << "RegistryFile::Lock - cannot use the folder " << dir_;
    return -1;
  }
  const int fd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    LOG_ERRNO(kWarning) << "RegistryFile::Lock - cannot open " << dir_;
    return -1;
  }
  // Bounded, so that a stopped process holding the lock cannot hang us.
  const Tick deadline = TickNow() + kLockWaitMs;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if ((errno != EWOULDBLOCK && errno != EINTR) || TickNow() >= deadline) {
      LOG_ERRNO(kWarning) << "RegistryFile::Lock - cannot lock " << dir_;
      close(fd);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return fd;
}

void RegistryFile::MoveAside() {
  const std::string bad = path_ + ".bad";
  if (rename(path_.c_str(), bad.c_str()) == 0) {
    LOG(kWarning) << "RegistryFile - " << path_ << " cannot be parsed; moved to " << bad
                  << " and defaults are used";
  } else {
    LOG_ERRNO(kWarning) << "RegistryFile - cannot move the unreadable " << path_ << " aside";
  }
}

RegistryTree RegistryFile::Read() {
  RegistryTree tree;
  if (Load(&tree) != LoadResult::kUnparsable) return tree;
  // Only under the lock: another process may have just replaced the file with a good one.
  ScopedFd lock(Lock());
  if (lock.get() < 0) return RegistryTree();
  if (Load(&tree) == LoadResult::kUnparsable) MoveAside();
  return tree;
}

bool RegistryFile::Edit(const std::function<void(RegistryTree&)>& edit) {
  ScopedFd lock(Lock());
  if (lock.get() < 0) return false;
  RegistryTree tree;
  switch (Load(&tree)) {
    case LoadResult::kOk:
    case LoadResult::kMissing:
      break;
    case LoadResult::kUnparsable:
      MoveAside();
      break;
    case LoadResult::kError:
      return false;
  }
  const RegistryTree before = tree;
  edit(tree);
  if (tree == before) return true;
  return WriteAtomically(tree.ToText(), lock.get());
}

bool RegistryFile::WriteAtomically(const std::string& text, int dir_fd) {
  // One fixed name is enough: only the holder of the folder lock writes it.
  const std::string temp = path_ + ".tmp";
  ScopedFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (fd.get() < 0) {
    LOG_ERRNO(kWarning) << "RegistryFile::WriteAtomically - cannot create " << temp;
    return false;
  }
  bool ok = fchmod(fd.get(), 0600) == 0 && WriteAll(fd.get(), text) && fsync(fd.get()) == 0;
  if (!ok) {
    LOG_ERRNO(kWarning) << "RegistryFile::WriteAtomically - cannot write " << temp;
    unlink(temp.c_str());
    return false;
  }
  if (rename(temp.c_str(), path_.c_str()) != 0) {
    LOG_ERRNO(kWarning) << "RegistryFile::WriteAtomically - cannot replace " << path_;
    unlink(temp.c_str());
    return false;
  }
  // The rename itself must reach the disk before we call the change done.
  if (fsync(dir_fd) != 0) LOG_ERRNO(kWarning) << "RegistryFile - fsync of " << dir_ << " failed";
  return true;
}

}  // namespace vexalo
