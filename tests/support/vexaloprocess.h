#pragma once

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/registryfile.h"
#include "platform/runninginstance.h"
#include "platform/singleinstance.h"
#include "support/testfiles.h"

namespace vexalo {

// A user profile of its own for the program under test: HOME and every XDG folder in a
// fresh temporary folder, and no session bus unless a test Secret Service was set up.
class Profile {
 public:
  Profile() {
    g_mkdir_with_parents(runtime_dir().c_str(), 0700);
    g_mkdir_with_parents(config_dir().c_str(), 0700);
    g_mkdir_with_parents(data_dir().c_str(), 0700);
  }
  std::string home() const { return dir_.path(); }
  std::string config_dir() const { return dir_ / "config"; }
  std::string data_dir() const { return dir_ / "data"; }
  std::string runtime_dir() const { return dir_ / "run"; }
  std::string settings_file() const { return config_dir() + "/vexalo/settings.ini"; }
  std::string socket() const { return runtime_dir() + "/vexalo/instance.sock"; }
  std::string lock_file() const { return runtime_dir() + "/vexalo/instance.lock"; }
  std::string path(const std::string& name) const { return dir_ / name; }

  std::vector<std::string> Environment() const {
    std::vector<std::string> env = {
        "HOME=" + home(),
        "XDG_CONFIG_HOME=" + config_dir(),
        "XDG_DATA_HOME=" + data_dir(),
        "XDG_RUNTIME_DIR=" + runtime_dir(),
        "XDG_CACHE_HOME=" + (dir_ / "cache"),
        "XDG_DATA_DIRS=" + (dir_ / "system-data"),
        "XDG_CONFIG_DIRS=" + (dir_ / "system-config"),
        "PATH=/usr/bin:/bin",
    };
    if (getenv("VEXALO_SECRET_SERVICE")) {
      if (const char* bus = getenv("DBUS_SESSION_BUS_ADDRESS")) {
        env.push_back(std::string("DBUS_SESSION_BUS_ADDRESS=") + bus);
      }
    } else {
      env.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir_ / "no-bus"));
    }
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    return env;
  }

  RegistryTree Registry() const { return RegistryFile(settings_file()).Read(); }

 private:
  TempDir dir_;
};

// One run of the vexalo executable. Killed at the end if it still runs.
class VexaloProcess {
 public:
  static constexpr int kLimitMs = 20000;

  VexaloProcess(const Profile& profile, const std::vector<std::string>& args) : profile_(profile) {
    static int serial = 0;
    const std::string base = profile.path("run-" + std::to_string(++serial));
    out_path_ = base + ".out";
    err_path_ = base + ".err";
    // These runs have no display: the process without a front end.
    std::vector<std::string> argv_strings = {VEXALO_BINARY, "--headless"};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_strings = profile.Environment();
    std::vector<char*> envp;
    for (std::string& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (posix_spawn(&pid_, VEXALO_BINARY, &actions, nullptr, argv.data(), envp.data()) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~VexaloProcess() {
    if (running()) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  VexaloProcess(const VexaloProcess&) = delete;
  VexaloProcess& operator=(const VexaloProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running() {
    if (pid_ <= 0 || status_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return !status_;
  }
  // The wait status once ended (nothing if it still runs after the limit).
  std::optional<int> Wait(int limit_ms = kLimitMs) {
    for (int waited = 0; running() && waited < limit_ms; waited += 10) usleep(10000);
    return status_;
  }
  // The exit code, or -1 after a signal or when it does not end.
  int ExitCode(int limit_ms = kLimitMs) {
    const std::optional<int> status = Wait(limit_ms);
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  }
  int TermSignal() { return status_ && WIFSIGNALED(*status_) ? WTERMSIG(*status_) : 0; }
  void Signal(int signal_number) { kill(pid_, signal_number); }

  // Waits until this process answers on the hand-over socket (its main loop runs).
  bool WaitReady(int limit_ms = kLimitMs) {
    for (int waited = 0; waited < limit_ms; waited += 20) {
      if (!running()) return false;
      if (SingleInstanceHolder() == pid_) {
        if (std::optional<RunningInstance> r = FindRunningInstance(profile_.socket(), 200)) {
          if (HandOver(std::move(*r), kInstancePing, "", 2000) == HandOverResult::kHandled) {
            return true;
          }
        }
      }
      usleep(20000);
    }
    return false;
  }
  // Waits until standard error holds `text`.
  bool WaitForError(const std::string& text, int limit_ms = kLimitMs) {
    for (int waited = 0; waited < limit_ms; waited += 20) {
      if (Stderr().find(text) != std::string::npos) return true;
      if (!running() && Stderr().find(text) == std::string::npos) return false;
      usleep(20000);
    }
    return false;
  }
  pid_t SingleInstanceHolder() const { return SingleInstance::LockHolder(profile_.lock_file()); }

  std::string Stdout() const { return ReadFile(out_path_); }
  std::string Stderr() const { return ReadFile(err_path_); }

 private:
  const Profile& profile_;
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string out_path_;
  std::string err_path_;
};

}  // namespace vexalo
