#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "base/net/socketaddress.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/logging.h"
#include "relayd/relayconfig.h"
#include "relayd/relayserver.h"
#include "relayd/relaysessionendpoint.h"
#include "relayd/relaysessionstore.h"

namespace {

vexalo::EventQueue* g_queue = nullptr;

void OnStopSignal(int) {
  if (g_queue) g_queue->Stop();
}

vexalo::LogSeverity SeverityOf(const std::string& level) {
  if (level == "verbose") return vexalo::kVerbose;
  if (level == "warning") return vexalo::kWarning;
  if (level == "error") return vexalo::kError;
  return vexalo::kInfo;
}

bool ParseIP(const std::string& text, uint32_t* ip) {
  vexalo::SocketAddress address;
  if (!address.SetIP(text, false) || address.ip() == 0) return false;
  *ip = address.ip();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vexalo;
  RelayConfig config;
  std::string error;
  if (!ParseRelayConfig(std::vector<std::string>(argv + 1, argv + argc), &config, &error)) {
    std::fprintf(stderr, "vexalo-relayd: %s (see --help)\n", PrintableText(error, 300).c_str());
    return 2;
  }
  if (config.help) {
    std::fputs(RelayHelpText(), stdout);
    return 0;
  }
  if (config.version) {
    std::puts("vexalo-relayd 1.0");
    return 0;
  }
  uint32_t listen_ip = 0;
  uint32_t public_ip = 0;
  if (!ParseIP(config.listen_ip, &listen_ip) ||
      (!config.public_ip.empty() && !ParseIP(config.public_ip, &public_ip))) {
    std::fprintf(stderr, "vexalo-relayd: --listen and --public-ip want dotted IPv4 addresses\n");
    return 2;
  }
  if (config.http_port >= 0 && config.token.empty()) {
    std::fprintf(stderr, "vexalo-relayd: the HTTP endpoint needs --token-file\n");
    return 2;
  }
  LogToDebug(SeverityOf(config.log_level));
  LogTimestamps(true);

  EventQueue queue;
  g_queue = &queue;
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  std::signal(SIGPIPE, SIG_IGN);

  RelaySessionStore sessions(config.limits.max_sessions, config.limits.session_lifetime_ms);
  RelayServer relay(&queue, &sessions, config.limits);
  if (!relay.Start(listen_ip, public_ip, config.udp_port, config.tcp_port, config.ssltcp_port)) {
    return 1;
  }
  RelayAnnouncement announcement;
  announcement.relay_ip = config.public_ip.empty() ? config.listen_ip : config.public_ip;
  announcement.udp_port = relay.udp_port();
  announcement.tcp_port = relay.tcp_port();
  announcement.ssltcp_port = relay.ssltcp_port();
  announcement.stun_ip = config.stun_ip;
  announcement.stun_port = config.stun_port;
  RelaySessionEndpoint endpoint(&queue, &sessions, config.token, announcement);
  if (config.tls_cert.empty() != config.tls_key.empty()) {
    std::fprintf(stderr, "vexalo-relayd: --tls-cert and --tls-key go together\n");
    return 2;
  }
  if (!config.tls_cert.empty() && !endpoint.UseTls(config.tls_cert, config.tls_key, &error)) {
    std::fprintf(stderr, "vexalo-relayd: %s\n", error.c_str());
    return 2;
  }
  if (config.http_port >= 0 && !endpoint.Start(listen_ip, config.http_port)) return 1;

  QueuedMessage msg;
  while (queue.Get(&msg)) queue.Dispatch(&msg);
  LOG(kInfo) << "Relay stopping";
  g_queue = nullptr;
  return 0;
}
