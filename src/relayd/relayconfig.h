#pragma once

#include <string>
#include <vector>

#include "relayd/relaylimits.h"

namespace vexalo {

// Everything vexalo-relayd is told by its flags or its configuration file.
struct RelayConfig {
  std::string listen_ip = "127.0.0.1";
  std::string public_ip;  // empty: the listen address
  int udp_port = 5001;    // -1 turns a listener off
  int tcp_port = 5002;
  int ssltcp_port = 5003;
  int http_port = 5080;
  std::string token;  // from --token-file or the file's token_file; never logged
  std::string tls_cert;  // PEM chain; with tls_key the HTTP endpoint speaks HTTPS
  std::string tls_key;
  std::string stun_ip;
  int stun_port = 3478;
  std::string log_level = "info";
  RelayLimits limits;
  bool help = false;
  bool version = false;
};

// Reads flags ("--name value" or "--name=value") and, for --config, a file of "name = value"
// lines with the same names. False with a message for anything it cannot use.
bool ParseRelayConfig(const std::vector<std::string>& args, RelayConfig* config,
                      std::string* error);
// The manual page printed by --help.
const char* RelayHelpText();

}  // namespace vexalo
