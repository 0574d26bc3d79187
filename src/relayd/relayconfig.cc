#include "relayd/relayconfig.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "text/asciitext.h"

namespace vexalo {

namespace {

constexpr size_t kMaxConfigLine = 1024;
constexpr size_t kMaxTokenBytes = 256;
constexpr int kMaxConfigDepth = 1;

bool ParseInt(const std::string& text, long min, long max, long* out) {
  long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max) {
    return false;
  }
  *out = value;
  return true;
}


bool ReadToken(const std::string& path, std::string* token, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read token file " + path;
    return false;
  }
  std::string line;
  std::getline(file, line);
  line = std::string(Trim(line));
  if (line.empty() || line.size() > kMaxTokenBytes) {
    *error = "token file " + path + " must hold one token of 1 to 256 bytes";
    return false;
  }
  *token = line;
  return true;
}

bool Apply(const std::string& name, const std::string& value, RelayConfig* config, int depth,
           std::string* error);

bool ReadConfigFile(const std::string& path, RelayConfig* config, int depth,
                    std::string* error) {
  if (depth > kMaxConfigDepth) {
    *error = "a configuration file may not name another one";
    return false;
  }
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read configuration file " + path;
    return false;
  }
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    if (line.size() > kMaxConfigLine) {
      *error = path + ":" + std::to_string(number) + ": line too long";
      return false;
    }
    line = std::string(Trim(line));
    if (line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
      *error = path + ":" + std::to_string(number) + ": expected name = value";
      return false;
    }
    std::string name(Trim(std::string_view(line).substr(0, equals)));
    for (char& c : name) c = c == '_' ? '-' : c;
    const std::string value(Trim(std::string_view(line).substr(equals + 1)));
    if (!Apply(name, value, config, depth + 1, error)) {
      *error = path + ":" + std::to_string(number) + ": " + *error;
      return false;
    }
  }
  return true;
}

bool Apply(const std::string& name, const std::string& value, RelayConfig* config, int depth,
           std::string* error) {
  long number = 0;
  auto port = [&](int* out, long min) {
    if (!ParseInt(value, min, 65535, &number)) {
      *error = "--" + name + " wants a port number (" + std::to_string(min) + " to 65535)";
      return false;
    }
    *out = static_cast<int>(number);
    return true;
  };
  auto count = [&](auto* out, long min, long max) {
    if (!ParseInt(value, min, max, &number)) {
      *error = "--" + name + " wants a number from " + std::to_string(min) + " to " +
               std::to_string(max);
      return false;
    }
    *out = static_cast<std::remove_reference_t<decltype(*out)>>(number);
    return true;
  };
  RelayLimits& limits = config->limits;
  if (name == "listen") config->listen_ip = value;
  else if (name == "public-ip") config->public_ip = value;
  else if (name == "udp-port") return port(&config->udp_port, -1);
  else if (name == "tcp-port") return port(&config->tcp_port, -1);
  else if (name == "ssltcp-port") return port(&config->ssltcp_port, -1);
  else if (name == "http-port") return port(&config->http_port, -1);
  else if (name == "stun-ip") config->stun_ip = value;
  else if (name == "tls-cert") config->tls_cert = value;
  else if (name == "tls-key") config->tls_key = value;
  else if (name == "stun-port") return port(&config->stun_port, 1);
  else if (name == "token-file") return ReadToken(value, &config->token, error);
  else if (name == "log-level") {
    if (value != "verbose" && value != "info" && value != "warning" && value != "error") {
      *error = "--log-level wants verbose, info, warning or error";
      return false;
    }
    config->log_level = value;
  } else if (name == "max-allocations") return count(&limits.max_allocations, 1, 1000000);
  else if (name == "max-allocations-per-client") {
    return count(&limits.max_allocations_per_client, 1, 1000000);
  } else if (name == "max-connections") return count(&limits.max_connections, 1, 100000);
  else if (name == "max-connections-per-client") {
    return count(&limits.max_connections_per_client, 1, 100000);
  } else if (name == "max-sessions") return count(&limits.max_sessions, 1, 10000000);
  else if (name == "bandwidth") {
    return count(&limits.bandwidth_bytes_per_second, 1000, 1000000000);
  } else if (name == "idle-timeout") {
    if (!count(&limits.idle_timeout_ms, 10, 86400)) return false;
    limits.idle_timeout_ms *= 1000;
  } else if (name == "session-lifetime") {
    if (!count(&limits.session_lifetime_ms, 10, 86400)) return false;
    limits.session_lifetime_ms *= 1000;
  } else if (name == "allow-loopback-peers") {
    limits.allow_loopback_peers = value != "no" && value != "false" && value != "0";
  } else if (name == "config") return ReadConfigFile(value, config, depth, error);
  else {
    *error = "unknown option --" + name;
    return false;
  }
  return true;
}

bool IsKnown(const std::string& name) {
  static const char* const kNames[] = {
      "listen", "public-ip", "udp-port", "tcp-port", "ssltcp-port", "http-port", "stun-ip",
      "stun-port", "tls-cert", "tls-key", "token-file", "log-level", "max-allocations", "max-allocations-per-client",
      "max-connections", "max-connections-per-client", "max-sessions", "bandwidth",
      "idle-timeout", "session-lifetime", "allow-loopback-peers", "config"};
  for (const char* known : kNames) {
    if (name == known) return true;
  }
  return false;
}

bool IsSwitch(const std::string& name) {
  return name == "help" || name == "version" || name == "allow-loopback-peers";
}

}  // namespace

bool ParseRelayConfig(const std::vector<std::string>& args, RelayConfig* config,
                      std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      *error = "unexpected argument " + arg;
      return false;
    }
    std::string name = arg.substr(2);
    std::string value;
    const size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    } else if (name == "help") {
      config->help = true;
      continue;
    } else if (name == "version") {
      config->version = true;
      continue;
    } else if (!IsKnown(name)) {
      *error = "unknown option --" + name;
      return false;
    } else if (IsSwitch(name)) {
      value = "yes";
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      *error = "--" + name + " wants a value";
      return false;
    }
    if (!Apply(name, value, config, 0, error)) return false;
  }
  return true;
}

const char* RelayHelpText() {
  return R"(NAME
    vexalo-relayd - relay server for Vexalo calls

SYNOPSIS
    vexalo-relayd [--config FILE] [OPTION...]

DESCRIPTION
    Carries call traffic between two Vexalo clients that cannot reach each other directly
    (symmetric NATs, firewalls that block UDP). Clients first ask the HTTP endpoint
    "GET /create_session" for a relay session (username, password, magic cookie and the
    relay's addresses), then allocate a relayed UDP address over UDP, TCP or SSL-TCP and
    send their packets through it.

    Every option may also be given in the configuration file as "name = value" (dashes
    or underscores), one per line; "#" starts a comment. Later settings win.

OPTIONS
    --config FILE            read options from FILE
    --listen IP              address to listen on (default 127.0.0.1)
    --public-ip IP           address announced to clients and peers (default: --listen)
    --udp-port N             relay over UDP (default 5001; -1: off)
    --tcp-port N             relay over TCP (default 5002; -1: off)
    --ssltcp-port N          relay over SSL-TCP framing (default 5003; -1: off)
    --http-port N            "/create_session" endpoint (default 5080; -1: off)
    --token-file FILE        the relay token clients must present (first line of FILE);
                             required when the HTTP endpoint is on. Kept out of the
                             command line so that it does not show in process lists.
    --tls-cert FILE          PEM certificate chain: the endpoint then serves HTTPS
    --tls-key FILE           its PEM private key
    --stun-ip IP             STUN server announced with each session (default: none)
    --stun-port N            its port (default 3478)
    --max-allocations N      allocations in total (default 1000)
    --max-allocations-per-client N
                             allocations per client IP address (default 16)
    --max-connections N      TCP and SSL-TCP clients in total (default 1000)
    --max-connections-per-client N
                             TCP and SSL-TCP clients per IP address (default 32)
    --max-sessions N         relay sessions handed out and alive (default 10000)
    --bandwidth BYTES        bytes per second per allocation, both ways (default 1000000)
    --idle-timeout SECONDS   an allocation the client has not used for this long is freed
                             (default 900; clients refresh every 600)
    --session-lifetime SECONDS
                             how long a session may be used for new allocations (default 3600)
    --allow-loopback-peers   let allocations send to 127.0.0.0/8 (tests on one machine)
    --log-level LEVEL        verbose, info, warning or error (default info)
    --help                   print this page
    --version                print the version

LOGGING
    Logs go to standard error. Tokens, usernames, passwords and cookies are never logged.

SIGNALS
    SIGINT and SIGTERM stop the server.
)";
}

}  // namespace vexalo
