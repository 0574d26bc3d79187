#pragma once

// A real XMPP server (Prosody) on 127.0.0.1 with STARTTLS and a certificate made for the test.
#include <unistd.h>

#include <string>
#include <vector>

#include "support/peerprocess.h"

namespace vexalo {

class ProsodyPeer {
 public:
  // Our server modules for the service's own namespaces.
  static constexpr const char* kOwnModules = VEXALO_SOURCE_DIR "/tests/servers/prosody";

  // `extra_modules` are loaded besides the standard ones, also from our own modules in
  // tests/servers/prosody/; `extra_config` is appended to the global section.
  explicit ProsodyPeer(const std::vector<std::string>& extra_modules = {},
                       const std::string& extra_config = "")
      : port_(FreeLoopbackPort()) {
    std::string modules;
    for (const std::string& module : extra_modules) modules += ", \"" + module + "\"";
    const std::string& d = dir_.path();
    RunCommand({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                "ec_paramgen_curve:P-256", "-nodes", "-keyout", d + "/key.pem", "-out",
                d + "/cert.pem", "-days", "2", "-subj", "/CN=localhost", "-addext",
                "subjectAltName=DNS:localhost,IP:127.0.0.1"});
    RunCommand({"mkdir", "-p", d + "/data"});
    dir_.Write("prosody.cfg.lua",
               "run_as_root = true\n"
               "daemonize = false\n"
               "data_path = \"" + d + "/data\"\n"
               "pidfile = \"" + d + "/prosody.pid\"\n"
               "log = { info = \"" + d + "/prosody.log\" }\n"
               "interfaces = { \"127.0.0.1\" }\n"
               "c2s_ports = { " + std::to_string(port_) + " }\n"
               "s2s_ports = { }\n"
               "modules_disabled = { \"s2s\" }\n"
               "plugin_paths = { \"" + std::string(kOwnModules) + "\" }\n"
               "modules_enabled = { \"roster\", \"saslauth\", \"tls\", \"disco\", \"ping\"" +
               modules + " }\n"
               "c2s_require_encryption = true\n"
               "allow_unencrypted_plain_auth = false\n"
               "authentication = \"internal_plain\"\n"
               "allow_registration = false\n"
               "ssl = { certificate = \"" + d + "/cert.pem\"; key = \"" + d + "/key.pem\"; }\n" +
               extra_config + "\nVirtualHost \"localhost\"\n");
    started_ = process_.Start({"prosody", "--config", d + "/prosody.cfg.lua", "-F"}, port_,
                              d + "/out.log", &error_);
  }
  bool started() const { return started_; }
  // An account on "localhost" (simple names only); the server reads it at the next login.
  void AddUser(const std::string& name, const std::string& password) const {
    RunCommand({"mkdir", "-p", dir_.path() + "/data/localhost/accounts"});
    dir_.Write("data/localhost/accounts/" + name + ".dat",
               "return { [\"password\"] = \"" + password + "\"; };\n");
  }
  // Stops the server (the port stays reserved by nobody; a later test may restart one).
  void Stop() { process_.Stop(); }
  // Stops the server if it runs and starts it again on the same port with the same data.
  bool Restart() {
    process_.Stop();
    const std::string& d = dir_.path();
    started_ = process_.Start({"prosody", "--config", d + "/prosody.cfg.lua", "-F"}, port_,
                              d + "/out.log", &error_);
    return started_;
  }
  std::string log() const { return dir_.path() + "/prosody.log"; }
  const std::string& error() const { return error_; }
  uint16_t port() const { return port_; }
  // The server's certificate, to trust as a CA.
  std::string certificate() const { return dir_.path() + "/cert.pem"; }

 private:
  TempDir dir_;
  uint16_t port_;
  PeerProcess process_;
  bool started_ = false;
  std::string error_;
};

}  // namespace vexalo
