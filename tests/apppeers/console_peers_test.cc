// The real `vexalo --console` executable, twice, through a real Prosody, driven through pipes
// the way a script would: signing in, the subscription handshake, presence, chat messages,
// typing notices, status texts, quitting; and input it must refuse without falling over.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/timeutils.h"
#include "peers/prosodypeer.h"
#include "support/peerprocess.h"

namespace vexalo {
namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
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

  ConsoleClient(const std::string& password, const std::string& ca_file) {
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

class PeerConsoleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A client that died must fail the test, not kill it.
    signal(SIGPIPE, SIG_IGN);
    prosody_ = new ProsodyPeer();
    prosody_->AddUser("alice", "alice-password");
    prosody_->AddUser("bob", "bob-password");
  }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
  }
  std::string Server() const { return "127.0.0.1:" + std::to_string(prosody_->port()); }

  static ProsodyPeer* prosody_;
};
ProsodyPeer* PeerConsoleTest::prosody_ = nullptr;

TEST_F(PeerConsoleTest, TwoClientsBecomeContactsAndChat) {
  ASSERT_TRUE(prosody_->started()) << prosody_->error();
  ConsoleClient alice("alice-password", prosody_->certificate());
  ConsoleClient bob("bob-password", prosody_->certificate());
  ASSERT_TRUE(alice.started() && bob.started());
  ASSERT_TRUE(alice.Send("/signin alice@localhost " + Server()));
  ASSERT_TRUE(bob.Send("/signin bob@localhost " + Server()));
  ASSERT_TRUE(alice.WaitForLine({"state", "signed-in"})) << alice.Output() << alice.Stderr();
  ASSERT_TRUE(bob.WaitForLine({"state", "signed-in"})) << bob.Output() << bob.Stderr();
  EXPECT_TRUE(alice.WaitForLine({"status", "Signed in as alice@localhost"}));

  // The subscription handshake: alice asks, bob allows and asks back, alice allows.
  ASSERT_TRUE(alice.Send("/add bob@localhost Hi, it's Alice"));
  ASSERT_TRUE(bob.WaitForLine({"subscription", "alice@localhost", "subscribe"}))
      << bob.Output();
  EXPECT_TRUE(alice.WaitForLine({"roster", "bob@localhost", "", "none+ask"})) << alice.Output();
  ASSERT_TRUE(bob.Send("/accept alice@localhost"));
  ASSERT_TRUE(alice.WaitForLine({"subscription", "bob@localhost", "subscribe"}))
      << alice.Output();
  ASSERT_TRUE(alice.Send("/accept bob@localhost"));
  EXPECT_TRUE(alice.WaitForLine({"roster", "bob@localhost", "", "both"})) << alice.Output();
  EXPECT_TRUE(bob.WaitForLine({"roster", "alice@localhost", "", "both"})) << bob.Output();
  // Each sees the other available.
  EXPECT_TRUE(alice.WaitFor([](const ConsoleClient::Fields& f) {
    return f.size() >= 3 && f[0] == "presence" && f[1].rfind("bob@localhost/", 0) == 0 &&
           f[2] == "available";
  })) << alice.Output();
  EXPECT_TRUE(bob.WaitFor([](const ConsoleClient::Fields& f) {
    return f.size() >= 3 && f[0] == "presence" && f[1].rfind("alice@localhost/", 0) == 0 &&
           f[2] == "available";
  })) << bob.Output();

  // Messages both ways; tabs and backslashes come out escaped.
  ASSERT_TRUE(alice.Send("/msg bob@localhost hello bob"));
  EXPECT_TRUE(bob.WaitFor([](const ConsoleClient::Fields& f) {
    return f.size() == 3 && f[0] == "msg" && f[1].rfind("alice@localhost/", 0) == 0 &&
           f[2] == "hello bob";
  })) << bob.Output();
  ASSERT_TRUE(bob.Send("/msg alice@localhost back\tslash \\ and tab"));
  EXPECT_TRUE(alice.WaitFor([](const ConsoleClient::Fields& f) {
    return f.size() == 3 && f[0] == "msg" && f[1].rfind("bob@localhost/", 0) == 0 &&
           f[2] == "back\\tslash \\\\ and tab";
  })) << alice.Output();

  // Typing notices.
  size_t mark = bob.Mark();
  ASSERT_TRUE(alice.Send("/typing bob@localhost"));
  EXPECT_TRUE(bob.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() == 3 && f[0] == "typing" && f[1].rfind("alice@localhost/", 0) == 0 &&
               f[2] == "composing";
      },
      mark))
      << bob.Output();
  ASSERT_TRUE(alice.Send("/typing bob@localhost paused"));
  EXPECT_TRUE(bob.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() == 3 && f[0] == "typing" && f[2] == "paused";
      },
      mark))
      << bob.Output();

  // A status with a text.
  mark = bob.Mark();
  ASSERT_TRUE(alice.Send("/status away out for lunch"));
  EXPECT_TRUE(bob.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() == 4 && f[0] == "presence" && f[1].rfind("alice@localhost/", 0) == 0 &&
               f[2] == "away" && f[3] == "out for lunch";
      },
      mark))
      << bob.Output();

  // The roster on request.
  mark = alice.Mark();
  ASSERT_TRUE(alice.Send("/roster"));
  EXPECT_TRUE(alice.WaitForLine({"roster", "bob@localhost", "", "both"}, mark)) << alice.Output();

  // Quitting signs out: the other side sees it, and both end with 0.
  mark = bob.Mark();
  ASSERT_TRUE(alice.Send("/quit"));
  EXPECT_EQ(alice.ExitCode(), 0) << alice.Stderr();
  EXPECT_TRUE(alice.WaitForLine({"state", "signed-out"})) << alice.Output();
  EXPECT_TRUE(bob.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() >= 3 && f[0] == "presence" && f[1].rfind("alice@localhost/", 0) == 0 &&
               f[2] == "offline";
      },
      mark))
      << bob.Output();
  ASSERT_TRUE(bob.Send("/quit"));
  EXPECT_EQ(bob.ExitCode(), 0) << bob.Stderr();
}

TEST_F(PeerConsoleTest, RefusesBadInputAndGoesOn) {
  ASSERT_TRUE(prosody_->started()) << prosody_->error();
  ConsoleClient alice("alice-password", prosody_->certificate());
  ASSERT_TRUE(alice.started());

  struct Case {
    std::string line;
    std::string error;  // the start of the error text
  };
  const std::vector<Case> before_sign_in = {
      {"/frobnicate now", "unknown command: /frobnicate"},
      {"/signin", "usage: /signin"},
      {"/signin alice@localhost 127.0.0.1:99999", "not a port: 99999"},
      {"/signin alice@localhost 127.0.0.1:12x", "not a port: 12x"},
      {"/signin alice@localhost :5222", "usage: /signin"},
      {"/signin not an address at all", "usage: /signin"},
      {"/msg bob@localhost hello", "not signed in"},
      {"/status away", "not signed in"},
  };
  for (const Case& c : before_sign_in) {
    const size_t mark = alice.Mark();
    ASSERT_TRUE(alice.Send(c.line));
    EXPECT_TRUE(alice.WaitForLine({"error", c.error}, mark, 5000)) << c.line << "\n" << alice.Output();
  }
  // A line longer than the front end takes is refused whole; the next one is read as usual.
  size_t mark = alice.Mark();
  ASSERT_TRUE(alice.Send("/msg alice@localhost " + std::string(100 * 1024, 'x')));
  EXPECT_TRUE(alice.WaitForLine({"error", "line too long"}, mark, 5000)) << alice.Output();

  ASSERT_TRUE(alice.Send("/signin alice@localhost " + Server()));
  ASSERT_TRUE(alice.WaitForLine({"state", "signed-in"})) << alice.Output() << alice.Stderr();
  const std::vector<Case> signed_in = {
      {"/msg", "/msg needs an address"},
      {"/msg alice@localhost", "usage: /msg"},
      {"/msg @@@ hi", "not a valid address: @@@"},
      {"/typing alice@localhost shouting", "usage: /typing"},
      {"/status sleepy", "usage: /status"},
      {"/accept", "/accept needs an address"},
  };
  for (const Case& c : signed_in) {
    mark = alice.Mark();
    ASSERT_TRUE(alice.Send(c.line));
    EXPECT_TRUE(alice.WaitForLine({"error", c.error}, mark, 5000)) << c.line << "\n" << alice.Output();
  }
  mark = alice.Mark();
  ASSERT_TRUE(alice.Send(std::string(70 * 1024, 'y')));
  EXPECT_TRUE(alice.WaitForLine({"error", "line too long"}, mark, 5000)) << alice.Output();
  // Bytes that are not UTF-8 and control characters do not break the stream: a message to
  // ourselves still arrives afterwards.
  ASSERT_TRUE(alice.Send("/msg alice@localhost bad \xff\xfe bytes \x01\x02 here"));
  ASSERT_TRUE(alice.Send("/msg alice@localhost still here"));
  // Invalid bytes travel as replacement characters; control characters not at all.
  EXPECT_TRUE(alice.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() == 3 && f[0] == "msg" &&
               f[2] == "bad \xEF\xBF\xBD\xEF\xBF\xBD bytes  here";
      },
      mark))
      << alice.Output();
  EXPECT_TRUE(alice.WaitFor(
      [](const ConsoleClient::Fields& f) {
        return f.size() == 3 && f[0] == "msg" && f[2] == "still here";
      },
      mark))
      << alice.Output() << alice.Stderr();
  EXPECT_TRUE(alice.Running());

  // The end of the input quits like /quit.
  alice.CloseInput();
  EXPECT_EQ(alice.ExitCode(), 0) << alice.Stderr();
  EXPECT_TRUE(alice.WaitForLine({"state", "signed-out"}, mark)) << alice.Output();
}

}  // namespace
}  // namespace vexalo
