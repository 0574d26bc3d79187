#pragma once

// A private Kerberos realm on 127.0.0.1: its own krb5.conf and kdc.conf in a temp folder, a
// database with a user and the HTTP service of the proxy host, the service's keys in a keytab,
// and krb5kdc in the foreground. While it lives, KRB5_CONFIG, KRB5_KDC_PROFILE and KRB5CCNAME
// of this process (and so of every program it starts, proxies included) point into the realm,
// so that neither the machine's Kerberos setup nor the user's tickets take part.
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/peerprocess.h"

namespace vexalo {

class KdcPeer {
 public:
  static constexpr const char* kRealm = "VEXALO.TEST";
  static constexpr const char* kUser = "alice";
  static constexpr const char* kPassword = "wonderland";

  // `service_host`: the name clients reach the proxy by; its service is HTTP/<host>.
  explicit KdcPeer(const std::string& service_host = "localhost") : port_(FreeLoopbackPort()) {
    const std::string& d = dir_.path();
    const std::string port = std::to_string(port_);
    // Names stay as given: the client asks for HTTP/<host> exactly as it reaches the proxy.
    dir_.Write("krb5.conf",
               std::string("[libdefaults]\n"
                           "  default_realm = ") + kRealm + "\n"
               "  dns_lookup_kdc = false\n"
               "  dns_lookup_realm = false\n"
               "  dns_canonicalize_hostname = false\n"
               "  rdns = false\n"
               "  udp_preference_limit = 1\n"
               "[realms]\n"
               "  " + kRealm + " = {\n"
               "    kdc = 127.0.0.1:" + port + "\n"
               "  }\n");
    dir_.Write("kdc.conf",
               "[kdcdefaults]\n"
               "  kdc_listen = 127.0.0.1:" + port + "\n"
               "  kdc_tcp_listen = 127.0.0.1:" + port + "\n"
               "[realms]\n"
               "  " + std::string(kRealm) + " = {\n"
               "    database_name = " + d + "/principal\n"
               "    key_stash_file = " + d + "/stash\n"
               "    acl_file = " + d + "/kadm5.acl\n"
               "  }\n"
               "[logging]\n"
               "  kdc = FILE:" + d + "/kdc.log\n");
    Export("KRB5_CONFIG", d + "/krb5.conf");
    Export("KRB5_KDC_PROFILE", d + "/kdc.conf");
    // No tickets until a test asks for them.
    Export("KRB5CCNAME", "FILE:" + d + "/ccache");
    service_ = "HTTP/" + service_host + "@" + kRealm;
    keytab_ = d + "/http.keytab";
    const std::string user = std::string(kUser) + "@" + kRealm;
    if (!Step({"kdb5_util", "create", "-s", "-r", kRealm, "-P", "master-key-of-the-test"}) ||
        !Step({VEXALO_KDCADMIN, "addprinc", user, kPassword}) ||
        !Step({VEXALO_KDCADMIN, "addprinc", service_, RandomPassword()}) ||
        !Step({VEXALO_KDCADMIN, "ktadd", "FILE:" + keytab_, service_})) {
      return;
    }
    started_ = kdc_.Start({"krb5kdc", "-n", "-r", kRealm, "-P", d + "/kdc.pid"}, port_,
                          d + "/kdc.out", &error_);
    if (!started_) error_ += "\n" + Read(d + "/kdc.out") + Read(d + "/kdc.log");
  }

  ~KdcPeer() {
    kdc_.Stop();
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second.first) {
        setenv(it->first.c_str(), it->second.second.c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }

  bool started() const { return started_; }
  const std::string& error() const { return error_; }
  const std::string& keytab() const { return keytab_; }
  std::string user_principal() const { return std::string(kUser) + "@" + kRealm; }

  // A fresh, empty credentials cache of this realm's folder for the process (KRB5CCNAME).
  void UseCache(const std::string& name) {
    setenv("KRB5CCNAME", ("FILE:" + dir_.path() + "/" + name).c_str(), 1);
  }

  // Gets a ticket-granting ticket into the current cache with kinit; true on success.
  bool Kinit(const std::string& principal, const std::string& password) {
    return RunCommand({"sh", "-c", "printf '%s\\n' \"$1\" | kinit \"$2\" >>\"$3\" 2>&1", "sh",
                       password, principal, dir_.path() + "/setup.log"}) == 0;
  }

  // What the KDC logged (requests it answered, and why it refused others).
  std::string log() const { return Read(dir_.path() + "/kdc.log"); }

 private:
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static std::string RandomPassword() {
    std::ifstream random("/dev/urandom", std::ios::binary);
    std::string password;
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int i = 0; i < 32; ++i) {
      password.push_back(kChars[static_cast<unsigned char>(random.get()) % (sizeof(kChars) - 1)]);
    }
    return password;
  }

  void Export(const std::string& name, const std::string& value) {
    const char* old = getenv(name.c_str());
    saved_.emplace_back(name, std::make_pair(old != nullptr, old ? std::string(old) : ""));
    setenv(name.c_str(), value.c_str(), 1);
  }

  // Runs a setup command with its output in setup.log; on failure the log becomes the error.
  bool Step(const std::vector<std::string>& argv) {
    const std::string log = dir_.path() + "/setup.log";
    std::vector<std::string> command = {"sh", "-c", "\"$@\" >>\"$0\" 2>&1", log};
    command.insert(command.end(), argv.begin(), argv.end());
    if (RunCommand(command) == 0) return true;
    error_ = argv[0] + " " + argv[1] + " failed:\n" + Read(log);
    return false;
  }

  TempDir dir_;
  uint16_t port_;
  PeerProcess kdc_;
  std::string service_;
  std::string keytab_;
  bool started_ = false;
  std::string error_;
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

}  // namespace vexalo
