#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexalo {

// Where the service lives: its domains and hosts, with built-in defaults that the environment
// (VEXALO_SERVICE_<NAME>) and the command line (--service NAME=VALUE) can override, so that a
// deployment or a test can point the client at other servers.
struct ServiceProfile {
  // Accounts of the service itself (their PLAIN identity is the whole address).
  std::string account_domain;
  // The web-mail service's account domain and its alternative form.
  std::string webmail_domain;
  std::string webmail_alt_domain;
  // The XMPP host tried for the service's own accounts, and its ports.
  std::string xmpp_host;
  uint16_t xmpp_port = 5222;
  uint16_t ssltcp_port = 443;
  // The account service's host (token exchange over HTTPS).
  std::string account_host;
  // The maker's public web host (proxy probes, namespaces).
  std::string web_host;
  std::string stun_host;
  std::string relay_host;
  // How the relay-session request reaches the relay host: "http" or "https", and the port.
  std::string relay_scheme = "http";
  uint16_t relay_port = 80;
  std::string update_host;
  std::string report_host;

  static ServiceProfile Defaults();
  // Defaults, then the environment, then `overrides` ("name=value", names as in Names()).
  // Bad entries are reported in `errors` and leave the value as it was.
  static ServiceProfile FromEnvironment(const std::vector<std::string>& overrides,
                                        std::vector<std::string>* errors);
  // Sets one field by name ("xmpp_host", "xmpp_port", ...); false for an unknown name or a bad
  // value.
  bool Set(std::string_view name, std::string_view value);
  static std::vector<std::string> Names();

  // The session namespaces live on the web host, so a profile pointed elsewhere moves them too.
  std::string SessionNamespace() const { return "http://" + web_host + "/session"; }
  std::string PhoneNamespace() const { return "http://" + web_host + "/session/phone"; }
  std::string TunnelNamespace() const { return "http://" + web_host + "/vexalo/tunnel"; }

  bool relay_secure() const { return relay_scheme == "https"; }

  bool IsServiceDomain(std::string_view domain) const { return domain == account_domain; }
  bool IsWebMailDomain(std::string_view domain) const {
    return domain == webmail_domain || domain == webmail_alt_domain;
  }
};

}  // namespace vexalo
