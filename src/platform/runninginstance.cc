#include "platform/runninginstance.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "base/runtime/logging.h"
#include "base/runtime/timeutils.h"

namespace vexalo {

namespace {

void PutLe32(uint32_t value, char* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

uint32_t GetLe32(const unsigned char* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
         static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

int Remaining(Tick deadline) {
  const int64_t left = TickDiff(deadline, TickNow());
  return left < 0 ? 0 : static_cast<int>(left);
}

bool WaitFor(int fd, short events, Tick deadline) {
  for (;;) {
    pollfd p = {fd, events, 0};
    const int ready = poll(&p, 1, Remaining(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace

const char* HandOverResultName(HandOverResult result) {
  switch (result) {
    case HandOverResult::kHandled:
      return "handled";
    case HandOverResult::kRejected:
      return "rejected";
    case HandOverResult::kNoAnswer:
      return "no answer";
  }
  return "<unknown>";
}

RunningInstance::~RunningInstance() {
  if (fd_ >= 0) close(fd_);
}

std::optional<RunningInstance> FindRunningInstance(const std::string& socket_path, int timeout_ms) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (socket_path.size() >= sizeof(address.sun_path)) {
    LOG(kWarning) << "FindRunningInstance - socket path too long: " << socket_path;
    return std::nullopt;
  }
  memcpy(address.sun_path, socket_path.data(), socket_path.size());
  const Tick deadline = TickNow() + timeout_ms;
  for (;;) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return std::nullopt;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
      return RunningInstance(fd);
    }
    const int error = errno;
    close(fd);
    // A full backlog means the instance lives but is busy: try again until the deadline.
    if (error != EAGAIN && error != EINTR) return std::nullopt;
    if (Remaining(deadline) == 0) {
      LOG(kWarning) << "FindRunningInstance - the instance does not accept connections";
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

HandOverResult HandOver(RunningInstance instance, uint32_t code, std::string_view text,
                        int timeout_ms) {
  if (text.size() > kMaxHandOverText) {
    LOG(kWarning) << "HandOver - text of " << text.size() << " bytes is too long";
    return HandOverResult::kRejected;
  }
  const Tick deadline = TickNow() + timeout_ms;
  std::string record(kHandOverMagic, sizeof(kHandOverMagic));
  char number[4];
  PutLe32(code, number);
  record.append(number, 4);
  PutLe32(static_cast<uint32_t>(text.size()), number);
  record.append(number, 4);
  record.append(text);

  std::string_view pending = record;
  while (!pending.empty()) {
    const ssize_t sent = send(instance.fd(), pending.data(), pending.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      pending.remove_prefix(static_cast<size_t>(sent));
    } else if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitFor(instance.fd(), POLLOUT, deadline)) return HandOverResult::kNoAnswer;
    } else {
      return HandOverResult::kNoAnswer;
    }
  }
  unsigned char answer[4];
  size_t have = 0;
  while (have < sizeof(answer)) {
    const ssize_t got = recv(instance.fd(), answer + have, sizeof(answer) - have, 0);
    if (got > 0) {
      have += static_cast<size_t>(got);
    } else if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitFor(instance.fd(), POLLIN, deadline)) return HandOverResult::kNoAnswer;
    } else {
      return HandOverResult::kNoAnswer;
    }
  }
  return GetLe32(answer) == kHandOverHandled ? HandOverResult::kHandled : HandOverResult::kRejected;
}

}  // namespace vexalo
