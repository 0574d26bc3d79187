#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/registrytree.h"

namespace vexalo {

// The registry tree kept in one file (mode 0600, in a folder of mode 0700). Several processes
// of the user share it: every change reads the file, edits and writes it back under an
// exclusive lock on the folder, and the file is replaced atomically (temporary file, fsync,
// rename, fsync of the folder), so a crash at any point leaves the old or the new file.
class RegistryFile {
 public:
  explicit RegistryFile(std::string path);

  const std::string& path() const { return path_; }

  // The tree as on disk now; empty when there is no file. A file that cannot be parsed (or
  // exceeds kMaxFileBytes) is moved aside with the suffix ".bad" and a warning in the log, and
  // reads as empty.
  RegistryTree Read();

  // Reads the tree under the lock, lets `edit` change it and writes it when it changed. False
  // when the file could not be read or written; the file on disk is then as it was.
  bool Edit(const std::function<void(RegistryTree&)>& edit);

  // A file larger than this is not a settings file of ours.
  static constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;
  // How long a change waits for another process to finish its own.
  static constexpr int kLockWaitMs = 5000;

 private:
  enum class LoadResult { kOk, kMissing, kUnparsable, kError };
  LoadResult Load(RegistryTree* tree);
  // Locks the folder; returns its descriptor, or -1.
  int Lock();
  void MoveAside();
  bool WriteAtomically(const std::string& text, int dir_fd);

  std::string path_;
  std::string dir_;
};

}  // namespace vexalo
