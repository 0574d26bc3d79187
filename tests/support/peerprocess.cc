#include "support/peerprocess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vexalo {

uint16_t FreeLoopbackPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  socklen_t len = sizeof(addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

bool IsLoopbackPortListening(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::string& log_path) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  setpgid(0, 0);  // its helpers go with it
  int out = log_path.empty() ? open("/dev/null", O_WRONLY)
                             : open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  int in = open("/dev/null", O_RDONLY);
  dup2(in, 0);
  dup2(out, 1);
  dup2(out, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

}  // namespace

bool PeerProcess::Start(const std::vector<std::string>& argv, uint16_t port,
                        const std::string& log_path, std::string* error) {
  pid_ = Spawn(argv, log_path);
  if (pid_ < 0) {
    *error = "fork failed";
    return false;
  }
  for (int i = 0; i < 200; ++i) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      *error = argv[0] + " exited with status " + std::to_string(status);
      return false;
    }
    if (IsLoopbackPortListening(port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  *error = argv[0] + " did not listen on port " + std::to_string(port);
  Stop();
  return false;
}

void PeerProcess::Stop() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGTERM);
  kill(pid_, SIGTERM);
  for (int i = 0; i < 60; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      kill(-pid_, SIGKILL);  // helpers left behind
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int RunCommand(const std::vector<std::string>& argv) {
  pid_t pid = Spawn(argv, "");
  if (pid < 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vexalo
