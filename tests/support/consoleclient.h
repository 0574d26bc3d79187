#pragma once

// One real `vexalo --console` process with a profile of its own, driven through pipes the way
// a script would drive it, for the tests that run it against real servers.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/runtime/timeutils.h"
#include "support/peerprocess.h"

namespace vexalo {

inline std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(
        line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// One `vexalo --console` with a profile of its own: commands go in through a pipe, events
// come out of another, one per line.
class ConsoleClient {
 public:
  static constexpr int kLimitMs = 20000;
  using Fields = std::vector<std::string>;

  // `extra_args` follow "--console" on the command line.
  ConsoleClient(const std::string& password, const std::string& ca_file,
                const std::vector<std::string>& extra_args = {}) {
    const std::string& d = dir_.path();
    for (const char* sub : {"config", "cache", "data", "run"}) {
      RunCommand({"mkdir", "-p", "-m", "700", d + "/" + sub});
    }
    std::vector<std::string> env = {
        "HOME=" + d,
        "XDG_CONFIG_HOME=" + d + "/config",
        "XDG_CACHE_HOME=" + d + "/cache",
        "XDG_DATA_HOME=" + d + "/data",
        "XDG_RUNTIME_DIR=" + d + "/run",
        "PATH=/usr/bin:/bin",
        "LANG=C",
        // No session bus: nothing reaches the user's own keyring.
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + d + "/no-bus",
        "VEXALO_PASSWORD=" + password,
        "VEXALO_CA_FILE=" + ca_file,
    };
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    std::vector<std::string> args = {VEXALO_BINARY, "--console"};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);
    const std::string err_path = d + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (posix_spawn(&pid_, VEXALO_BINARY, &actions, nullptr, argv.data(), envp.data()) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    out_ = out[0];
    fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
  }
  ~ConsoleClient() {
    if (getenv("VEXALO_TEST_LOG")) {
      Read(0);
      fprintf(stderr, "--- console %d:\n%s", static_cast<int>(pid_), Output().c_str());
    }
    CloseInput();
    if (out_ >= 0) close(out_);
    if (Running()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ConsoleClient(const ConsoleClient&) = delete;
  ConsoleClient& operator=(const ConsoleClient&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The profile's home folder (config, cache, data and run below it).
  const std::string& home() const { return dir_.path(); }

  bool Send(const std::string& line) {
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(in_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  void CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }

  // The number of lines seen so far: a mark for WaitFor.
  size_t Mark() {
    Read(0);
    return lines_.size();
  }
  // Waits for a line from `from` on whose fields `match` holds; the line, or nothing.
  std::optional<std::string> WaitFor(const std::function<bool(const Fields&)>& match,
                                     size_t from = 0, int limit_ms = kLimitMs) {
    const Tick end = TickNow() + limit_ms;
    size_t next = from;
    for (;;) {
      for (; next < lines_.size(); ++next) {
        if (match(SplitTabs(lines_[next]))) return lines_[next];
      }
      const int64_t left = end - TickNow();
      if (left <= 0 || !Read(static_cast<int>(left))) return std::nullopt;
    }
  }
  // A line that starts with these fields (the last one may be a prefix).
  std::optional<std::string> WaitForLine(const Fields& prefix, size_t from = 0,
                                         int limit_ms = kLimitMs) {
    return WaitFor(
        [&](const Fields& fields) {
          if (fields.size() < prefix.size()) return false;
          for (size_t i = 0; i + 1 < prefix.size(); ++i) {
            if (fields[i] != prefix[i]) return false;
          }
          return fields[prefix.size() - 1].rfind(prefix.back(), 0) == 0;
        },
        from, limit_ms);
  }

  // The exit code once ended, or -1 (a signal, or still running after the limit).
  int ExitCode(int limit_ms = kLimitMs) {
    for (int waited = 0; Running() && waited < limit_ms; waited += 10) usleep(10000);
    return status_ && WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1;
  }
  bool Running() {
    if (pid_ <= 0 || status_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return !status_;
  }
  std::string Output() const {
    std::string all;
    for (const std::string& line : lines_) all += line + "\n";
    return all;
  }
  std::string Stderr() const {
    std::string text;
    FILE* f = fopen((dir_.path() + "/stderr").c_str(), "r");
    if (f == nullptr) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) text.append(buffer, n);
    fclose(f);
    return text;
  }

 private:
  // Reads what is there within `wait_ms`; false at the end of the output.
  bool Read(int wait_ms) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0) return true;
    char buffer[8192];
    const ssize_t n = read(out_, buffer, sizeof(buffer));
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    partial_.append(buffer, static_cast<size_t>(n));
    size_t newline;
    while ((newline = partial_.find('\n')) != std::string::npos) {
      lines_.push_back(partial_.substr(0, newline));
      partial_.erase(0, newline + 1);
    }
    return true;
  }

  TempDir dir_;
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::optional<int> status_;
  std::string partial_;
  std::vector<std::string> lines_;
};

}  // namespace vexalo
