#include "app/incomingfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <utility>
#include <vector>

#include "base/runtime/logging.h"
#include "session/tunnel/plainfilename.h"

namespace vexalo {

IncomingFile::IncomingFile(std::string id, FileOffer offer, std::string folder, EventQueue* clock)
    : id_(std::move(id)), offer_(std::move(offer)), folder_(std::move(folder)), clock_(clock) {}

IncomingFile::~IncomingFile() {
  if (stream_) stream_->StreamEvent.Disconnect(this);
  RemoveTemporary();
}

bool IncomingFile::Open(std::string* error) {
  std::string pattern = folder_ + "/.vexalo-receiving-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) {
    *error = std::string("cannot write in ") + folder_ + ": " + strerror(errno);
    return false;
  }
  temporary_ = name.data();
  return true;
}

void IncomingFile::Attach(std::unique_ptr<TunnelStream> stream) {
  stream_ = std::move(stream);
  stream_->StreamEvent.Connect(this, &IncomingFile::OnStreamEvent);
}

void IncomingFile::OnStreamEvent(DataStream*, int events, int error) {
  if (finished_) return;
  if ((events & SE_OPEN) && offer_.size == 0) {
    Complete();
    return;
  }
  if (events & SE_READ) ReadAvailable();
  if (finished_) return;
  if (events & SE_CLOSE) {
    Fail(error ? "connection lost (" + std::to_string(error) + ")" : "the sender ended the transfer", false);
  }
}

void IncomingFile::ReadAvailable() {
  char buffer[65536];
  while (!finished_) {
    size_t read = 0;
    int error = 0;
    StreamResult result = stream_->Read(buffer, sizeof buffer, &read, &error);
    if (result == SR_BLOCK) return;
    if (result != SR_SUCCESS) {
      Fail("connection lost (" + std::to_string(error) + ")", false);
      return;
    }
    // More than offered is a lie about the size: nothing past it is written.
    if (read > offer_.size - received_) {
      Fail("more data than offered", true);
      return;
    }
    for (size_t done = 0; done < read;) {
      ssize_t n = write(fd_, buffer + done, read - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Fail(std::string("cannot write the file: ") + strerror(errno), true);
        return;
      }
      done += static_cast<size_t>(n);
    }
    digest_.Update(buffer, read);
    received_ += read;
    if (meter_.ShouldReport(clock_->Now(), received_, offer_.size)) Progress(id_, received_, offer_.size);
    if (received_ == offer_.size) {
      Complete();
      return;
    }
  }
}

void IncomingFile::Complete() {
  if (fsync(fd_) != 0 || close(fd_) != 0) {
    fd_ = -1;
    Fail(std::string("cannot write the file: ") + strerror(errno), true);
    return;
  }
  fd_ = -1;
  if (digest_.FinishHex() != offer_.sha256) {
    Fail("hash mismatch", true);
    return;
  }
  std::string path;
  if (!MoveToFinalName(&path)) {
    Fail(std::string("cannot name the file: ") + strerror(errno), true);
    return;
  }
  finished_ = true;
  temporary_.clear();
  char verdict = kAccepted;
  size_t written = 0;
  stream_->Write(&verdict, 1, &written, nullptr);
  stream_->Close();
  Done(id_, path);
}

bool IncomingFile::MoveToFinalName(std::string* path) {
  const std::string plain = PlainFileName(offer_.name);
  size_t dot = plain.find_last_of('.');
  if (dot == 0 || dot == std::string::npos) dot = plain.size();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string name =
        attempt == 0 ? plain : plain.substr(0, dot) + " (" + std::to_string(attempt) + ")" + plain.substr(dot);
    std::string candidate = folder_ + "/" + name;
    // Never over an existing file: the rename fails instead.
    if (renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, candidate.c_str(), RENAME_NOREPLACE) == 0) {
      *path = candidate;
      return true;
    }
    if (errno == EINVAL || errno == ENOSYS) {
      // A file system without the no-replace rename: a hard link refuses existing names too.
      if (link(temporary_.c_str(), candidate.c_str()) == 0) {
        unlink(temporary_.c_str());
        *path = candidate;
        return true;
      }
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

void IncomingFile::Fail(const std::string& reason, bool tell_peer) {
  finished_ = true;
  RemoveTemporary();
  LOG(kInfo) << "IncomingFile - " << id_ << " failed: " << reason;
  if (stream_) {
    if (tell_peer) {
      char verdict = kRefused;
      size_t written = 0;
      stream_->Write(&verdict, 1, &written, nullptr);
    }
    stream_->Close();
  }
  Failed(id_, reason);
}

void IncomingFile::RemoveTemporary() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

}  // namespace vexalo
