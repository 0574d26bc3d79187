#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/handoverserver.h"
#include "platform/runninginstance.h"
#include "support/testfiles.h"

namespace vexalo {
namespace {

int ListenAt(const std::string& path) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, path.data(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(fd, 16) != 0) {
    return -1;
  }
  return fd;
}

int ConnectRaw(const std::string& path) {
  std::optional<RunningInstance> running = FindRunningInstance(path);
  if (!running) return -1;
  return dup(running->fd());
}

// Reads until the peer closes or `limit_ms` pass; returns what came.
std::string ReadUntilClosed(int fd, int limit_ms = 10000) {
  std::string data;
  for (;;) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, limit_ms) <= 0) return data + "<still open>";
    char buffer[64];
    const ssize_t got = recv(fd, buffer, sizeof(buffer), 0);
    if (got <= 0) return data;
    data.append(buffer, static_cast<size_t>(got));
  }
}

std::string Header(uint32_t code, uint32_t length, const char* magic = "VXH1") {
  std::string header(magic, 4);
  for (uint32_t v : {code, length}) {
    for (int i = 0; i < 4; ++i) header.push_back(static_cast<char>(v >> (8 * i)));
  }
  return header;
}

// The server runs on its own context in a thread, as the instance's main loop would.
class HandOverTest : public ::testing::Test {
 protected:
  void Start(int client_timeout_ms = HandOverServer::kClientTimeoutMs) {
    listen_fd_ = ListenAt(socket_);
    ASSERT_GE(listen_fd_, 0);
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    server_ = std::make_unique<HandOverServer>(
        listen_fd_,
        [this](uint32_t code, const std::string& text) {
          std::lock_guard<std::mutex> hold(lock_);
          received_.emplace_back(code, text);
          return code != 99;
        },
        context_, client_timeout_ms);
    thread_ = std::thread([this] { g_main_loop_run(loop_); });
  }
  void TearDown() override {
    if (!loop_) return;
    // Quit from inside the loop, so that it cannot be missed before the loop runs.
    g_main_context_invoke(
        context_,
        [](gpointer loop) {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop_);
    thread_.join();
    server_.reset();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
    close(listen_fd_);
  }
  std::vector<std::pair<uint32_t, std::string>> Received() {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
  }

  TempDir dir_;
  std::string socket_ = dir_ / "instance.sock";
  int listen_fd_ = -1;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::unique_ptr<HandOverServer> server_;
  std::thread thread_;
  std::mutex lock_;
  std::vector<std::pair<uint32_t, std::string>> received_;
};

TEST_F(HandOverTest, DeliversEachRecordExactly) {
  Start();
  const std::vector<std::pair<uint32_t, std::string>> records = {
      {kCopyDataMailto, "mailto:someone@example.com?subject=Hello%20there&body=a b"},
      {kCopyDataLogOptions, "verbose file"},
      {kCopyDataLogOptions, ""},
      {kInstanceRestore, ""},
      {kCopyDataMailto, std::string("bytes \0 and \xff too", 17)},
      {kCopyDataMailto, std::string(kMaxHandOverText, 'm')},
  };
  for (const auto& [code, text] : records) {
    std::optional<RunningInstance> running = FindRunningInstance(socket_);
    ASSERT_TRUE(running.has_value());
    EXPECT_EQ(HandOver(std::move(*running), code, text), HandOverResult::kHandled);
  }
  EXPECT_EQ(Received(), records);
}

TEST_F(HandOverTest, ReportsRecordsTheInstanceDidNotHandle) {
  Start();
  EXPECT_EQ(HandOver(*FindRunningInstance(socket_), 99, "x"), HandOverResult::kRejected);
  EXPECT_EQ(HandOver(*FindRunningInstance(socket_), kCopyDataMailto,
                     std::string(kMaxHandOverText + 1, 'm')),
            HandOverResult::kRejected);
  EXPECT_EQ(Received().size(), 1u);
}

TEST_F(HandOverTest, HostilePeersOnlyLoseTheirConnection) {
  Start(/*client_timeout_ms=*/200);
  struct Case {
    const char* what;
    std::string bytes;
    std::string answer;
  };
  const std::string rejected("\x01\0\0\0", 4);
  const Case cases[] = {
      {"length over the limit", Header(1, kMaxHandOverText + 1), rejected},
      {"length of 4 GiB", Header(1, 0xFFFFFFFFu), rejected},
      {"wrong magic", Header(1, 3, "HTTP") + "abc", ""},
      {"stalls in the header", "VXH", ""},
      {"stalls in the text", Header(1, 10) + "abc", ""},
  };
  for (const Case& c : cases) {
    const int fd = ConnectRaw(socket_);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(send(fd, c.bytes.data(), c.bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(c.bytes.size()));
    EXPECT_EQ(ReadUntilClosed(fd), c.answer) << c.what;
    close(fd);
  }
  EXPECT_TRUE(Received().empty());
  // The server still serves well-behaved peers.
  EXPECT_EQ(HandOver(*FindRunningInstance(socket_), kInstancePing, ""), HandOverResult::kHandled);
}

TEST_F(HandOverTest, RefusesPeersBeyondTheLimitAndRecovers) {
  Start();
  std::vector<int> stalled;
  for (size_t i = 0; i < HandOverServer::kMaxClients; ++i) {
    stalled.push_back(ConnectRaw(socket_));
    ASSERT_GE(stalled.back(), 0);
    send(stalled.back(), "V", 1, MSG_NOSIGNAL);
  }
  // A complete record from one peer too many is not answered: its connection is refused.
  const int extra = ConnectRaw(socket_);
  ASSERT_GE(extra, 0);
  const std::string ping = Header(kInstancePing, 0);
  send(extra, ping.data(), ping.size(), MSG_NOSIGNAL);
  EXPECT_EQ(ReadUntilClosed(extra), "");
  close(extra);
  EXPECT_TRUE(Received().empty());
  // Peers that leave free their places (once the server has seen them go).
  for (int fd : stalled) close(fd);
  HandOverResult result = HandOverResult::kNoAnswer;
  for (int attempt = 0; attempt < 200 && result != HandOverResult::kHandled; ++attempt) {
    if (attempt > 0) usleep(10000);
    result = HandOver(*FindRunningInstance(socket_), kInstancePing, "");
  }
  EXPECT_EQ(result, HandOverResult::kHandled);
}

TEST(FindRunningInstanceTest, FindsNothingWithoutAListener) {
  TempDir dir;
  EXPECT_FALSE(FindRunningInstance(dir / "instance.sock").has_value());
  // A socket file left behind by a process that is gone.
  const int fd = ListenAt(dir / "stale.sock");
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_FALSE(FindRunningInstance(dir / "stale.sock").has_value());
  EXPECT_FALSE(FindRunningInstance(std::string(200, 'x')).has_value());
}

}  // namespace
}  // namespace vexalo
