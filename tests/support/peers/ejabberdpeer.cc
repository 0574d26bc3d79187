#include "support/peers/ejabberdpeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

namespace vexalo {
namespace {

// How long a start may take on a loaded machine; it usually takes two or three seconds.
constexpr auto kStartLimit = std::chrono::seconds(60);

bool Accepts(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

// False once the process has ended (a zombie counts as ended; its parent reaps it later).
bool Alive(pid_t pid) {
  FILE* stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
  if (stat == nullptr) return false;
  char line[512] = {};
  const size_t n = std::fread(line, 1, sizeof(line) - 1, stat);
  std::fclose(stat);
  // "pid (name) S ...": the state follows the last parenthesis.
  const std::string text(line, n);
  const size_t paren = text.rfind(')');
  return paren != std::string::npos && paren + 2 < text.size() && text[paren + 2] != 'Z';
}

// Runs `argv` with /dev/null as input and returns its standard output; `status` gets the
// exit status, or -1.
std::string Capture(const std::vector<std::string>& argv, int* status) {
  *status = -1;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return {};
  const pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    return {};
  }
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(out[1], 1);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(out[0], buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(wait_status)) *status = WEXITSTATUS(wait_status);
  return text;
}

// Where the Debian package keeps the server's Erlang applications (/usr/lib/<triplet>).
std::string FindErlLibs() {
  std::error_code ec;
  for (const auto& arch : std::filesystem::directory_iterator("/usr/lib", ec)) {
    std::error_code inner;
    for (const auto& entry : std::filesystem::directory_iterator(arch.path(), inner)) {
      if (entry.path().filename().string().rfind("ejabberd-", 0) == 0 &&
          std::filesystem::exists(entry.path() / "ebin" / "ejabberd.app", inner)) {
        return arch.path().string();
      }
    }
  }
  return {};
}

std::string RandomCookie() {
  std::random_device random;
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string cookie;
  for (int i = 0; i < 32; ++i) cookie += kLetters[random() % 26];
  return cookie;
}

}  // namespace

EjabberdPeer::EjabberdPeer() : port_(FreeLoopbackPort()), dist_port_(FreeLoopbackPort()) {
  const auto begin = std::chrono::steady_clock::now();
  while (dist_port_ == port_) dist_port_ = FreeLoopbackPort();
  const std::string& d = dir_.path();
  const std::string erl_libs = FindErlLibs();
  if (d.empty() || erl_libs.empty()) {
    error_ = d.empty() ? "no temporary folder" : "ejabberd is not installed";
    return;
  }
  std::error_code ec;
  for (const char* sub : {"spool", "log", "home"}) {
    std::filesystem::create_directory(d + "/" + sub, ec);
  }

  // The server's certificate and key, and the CA, so it can build and check its chain.
  const tlstest::Credentials credentials = pki_.Issue(tlstest::CertOptions{});
  const std::string pem = d + "/server.pem";
  tlstest::WritePem(pem, credentials.cert.get());
  if (FILE* file = std::fopen(pem.c_str(), "a")) {
    PEM_write_PrivateKey(file, credentials.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(file);
  }
  chmod(pem.c_str(), 0600);

  // Erlang refuses a cookie others can read; the node and erl_call find it in $HOME.
  const std::string cookie = dir_.Write("home/.erlang.cookie", RandomCookie());
  chmod(cookie.c_str(), 0400);
  // Names resolve from this file alone: nothing asks the system's resolver.
  dir_.Write("inetrc",
             "{lookup, [file]}.\n"
             "{host, {127,0,0,1}, [\"localhost\"]}.\n");

  dir_.Write("ejabberd.yml",
             "hosts: [\"localhost\"]\n"
             "loglevel: warning\n"
             "log_rotate_count: 0\n"
             "hide_sensitive_log_data: true\n"
             "certfiles:\n"
             "  - \"" + pem + "\"\n"
             "  - \"" + pki_.ca_file() + "\"\n"
             "acme:\n"
             "  auto: false\n"
             "listen:\n"
             "  -\n"
             "    port: " + std::to_string(port_) + "\n"
             "    ip: \"127.0.0.1\"\n"
             "    module: ejabberd_c2s\n"
             "    max_stanza_size: 262144\n"
             "    starttls_required: true\n"
             "    protocol_options:\n"
             "      - \"no_sslv3\"\n"
             "      - \"no_tlsv1\"\n"
             "      - \"no_tlsv1_1\"\n"
             "      - \"cipher_server_preference\"\n"
             "      - \"no_compression\"\n"
             // Never to other servers: addresses outside localhost go nowhere.
             "s2s_access: none\n"
             "auth_method: internal\n"
             "auth_password_format: scram\n"
             "disable_sasl_mechanisms: [\"digest-md5\", \"X-OAUTH2\"]\n"
             "acl:\n"
             "  local:\n"
             "    user_regexp: \"\"\n"
             "access_rules:\n"
             "  local:\n"
             "    allow: local\n"
             "shaper_rules:\n"
             "  max_user_sessions: 10\n"
             "  max_user_offline_messages: 100\n"
             "modules:\n"
             "  mod_adhoc: {}\n"
             "  mod_avatar: {}\n"
             "  mod_blocking: {}\n"
             "  mod_caps: {}\n"
             "  mod_carboncopy: {}\n"
             "  mod_client_state: {}\n"
             "  mod_disco: {}\n"
             "  mod_last: {}\n"
             "  mod_offline:\n"
             "    access_max_user_messages: max_user_offline_messages\n"
             "  mod_ping: {}\n"
             "  mod_privacy: {}\n"
             "  mod_private: {}\n"
             "  mod_pubsub:\n"
             "    plugins: [\"flat\", \"pep\"]\n"
             "  mod_push: {}\n"
             "  mod_roster:\n"
             "    versioning: true\n"
             "  mod_stream_mgmt: {}\n"
             "  mod_vcard:\n"
             "    search: false\n"
             "  mod_vcard_xupdate: {}\n"
             "  mod_version: {}\n");

  // What the package's control script runs for "foreground", but as our own child: the
  // distribution listens on 127.0.0.1:dist_port_ and no port mapper daemon is started.
  const std::string dist = std::to_string(dist_port_);
  const std::vector<std::string> argv = {
      "env", "-C", d + "/spool",
      "HOME=" + d + "/home",
      "EJABBERD_CONFIG_PATH=" + d + "/ejabberd.yml",
      "EJABBERD_LOG_PATH=" + d + "/log/ejabberd.log",
      "ERL_CRASH_DUMP=" + d + "/log/erl_crash.dump",
      "ERL_INETRC=" + d + "/inetrc",
      "ERL_LIBS=" + erl_libs,
      // Should anything start a port mapper daemon after all, it stays on loopback. (Pointing
      // ERL_EPMD_PORT at the distribution port instead costs the start about ten seconds.)
      "ERL_EPMD_ADDRESS=127.0.0.1",
      "erl", "-sname", "vexalo-test-" + dist + "@localhost", "-noinput",
      "-env", "ERL_CRASH_DUMP_BYTES", "0",
      "-erl_epmd_port", dist, "-start_epmd", "false",
      "-kernel", "inet_dist_use_interface", "{127,0,0,1}",
      "-mnesia", "dir", "\"" + d + "/spool\"",
      "-s", "ejabberd"};
  // The distribution port opens early in the boot; the client port once the server runs.
  if (!process_.Start(argv, dist_port_, d + "/out.log", &error_)) {
    error_ += "\n" + LogTail();
    return;
  }
  const auto limit = std::chrono::steady_clock::now() + kStartLimit;
  for (;;) {
    // The client port opens before every part of the server is up; "status" tells when all
    // are.
    std::string answer;
    if (Accepts(port_) && Control({"status"}, &answer) == 0) break;
    // A bad configuration leaves the virtual machine running without the server.
    const std::string tail = LogTail();
    if (!Alive(process_.pid()) ||
        tail.find("Failed to start ejabberd application") != std::string::npos ||
        std::chrono::steady_clock::now() > limit) {
      error_ = "ejabberd did not start:\n" + tail;
      process_.Stop();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  start_ms_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - begin)
                  .count();
  started_ = true;
}

bool EjabberdPeer::AddUser(const std::string& name, const std::string& password) {
  for (const std::string& text : {name, password}) {
    if (text.empty() || text.find_first_of("\"\\") != std::string::npos) {
      error_ = "not a simple name or password: " + text;
      return false;
    }
  }
  std::string answer;
  if (Control({"register", name, "localhost", password}, &answer) == 0) return true;
  error_ = "register " + name + ": " + answer + "\n" + LogTail();
  return false;
}

int EjabberdPeer::Control(const std::vector<std::string>& command, std::string* answer) const {
  std::string words;
  for (const std::string& word : command) words += (words.empty() ? "\"" : ", \"") + word + "\"";
  int status = -1;
  *answer = Capture({"env", "HOME=" + dir_.path() + "/home", "erl_call", "-address",
                     "127.0.0.1:" + std::to_string(dist_port_), "-timeout", "20", "-a",
                     "ejabberd_ctl process [[" + words + "]]"},
                    &status);
  const size_t first = answer->find_first_not_of(" \r\n");
  const size_t last = answer->find_last_not_of(" \r\n");
  const std::string code =
      first == std::string::npos ? std::string() : answer->substr(first, last - first + 1);
  if (status != 0 || code.empty() || code.find_first_not_of("0123456789") != std::string::npos) {
    *answer = "erl_call status " + std::to_string(status) + ": " + *answer;
    return -1;
  }
  return std::stoi(code);
}

std::string EjabberdPeer::LogTail() const {
  const std::string out = ReadFile(dir_.path() + "/out.log");
  return out.size() > 3000 ? out.substr(out.size() - 3000) : out;
}

}  // namespace vexalo
