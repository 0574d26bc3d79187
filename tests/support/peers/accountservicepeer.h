#pragma once

// Our account service (tests/servers/accountservice.py) on a free loopback port, over HTTPS
// with a certificate from a test CA (or a stranger's, an expired one, or none), keeping a
// record of every form it was sent and a list of the tokens it issued. A Prosody started with
// the "ombrix_token" module and TokenHostConfig() accepts those tokens in an X-OMBRIX-TOKEN
// login.
#include <openssl/pem.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/tlstestpeer.h"
#include "support/peerprocess.h"

namespace vexalo {

class AccountServicePeer {
 public:
  static constexpr const char* kScript = VEXALO_SOURCE_DIR "/tests/servers/accountservice.py";

  // How the service presents itself.
  enum class Certificate { kValid, kExpired, kUntrusted, kNone };

  // `config` is the service's JSON configuration (accounts, captchas, canned misbehaviour).
  AccountServicePeer(const tlstest::TestPki& pki, Certificate certificate,
                     const std::string& config)
      : port_(FreeLoopbackPort()) {
    const std::string& d = dir_.path();
    dir_.Write("config.json", config);
    dir_.Write("tokens.txt", "");
    // The system interpreter: standard library only, and it starts quickly.
    std::vector<std::string> argv = {"/usr/bin/python3", kScript,
                                     "--port",           std::to_string(port_),
                                     "--config",         d + "/config.json",
                                     "--record",         d + "/record.jsonl",
                                     "--tokens",         tokens_file()};
    if (certificate != Certificate::kNone) {
      tlstest::CertOptions options;
      if (certificate == Certificate::kExpired) {
        options.not_before = -2 * 86400;
        options.not_after = -86400;
      }
      tlstest::Credentials credentials;
      if (certificate == Certificate::kUntrusted) {
        tlstest::TestPki stranger;  // a CA nobody trusts
        credentials = stranger.Issue(options);
      } else {
        credentials = pki.Issue(options);
      }
      tlstest::WritePem(d + "/cert.pem", credentials.cert.get());
      WriteKey(d + "/key.pem", credentials.key.get());
      argv.insert(argv.end(), {"--cert", d + "/cert.pem", "--key", d + "/key.pem"});
    }
    started_ = process_.Start(argv, port_, d + "/out.log", &error_);
  }

  bool started() const { return started_; }
  const std::string& error() const { return error_; }
  uint16_t port() const { return port_; }
  // The "host:port" override that points the client at this service.
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  // Every request as a JSON line, in order.
  std::string Record() const { return ReadFile(dir_.path() + "/record.jsonl"); }
  // How often `path` (e.g. "/accounts/ClientAuth") was requested.
  int Requests(const std::string& path) const {
    const std::string record = Record();
    const std::string needle = "{\"path\": \"" + path + "\"";
    int count = 0;
    for (size_t at = record.find(needle); at != std::string::npos;
         at = record.find(needle, at + 1)) {
      ++count;
    }
    return count;
  }

  // The tokens issued so far, one "TOKEN SERVICE EMAIL" line each, oldest first.
  std::string tokens_file() const { return dir_.path() + "/tokens.txt"; }
  // The last token issued to `email` for `service`; empty when none was.
  std::string LastToken(const std::string& email, const std::string& service = "mail") const {
    std::istringstream lines(ReadFile(tokens_file()));
    std::string line;
    std::string found;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string token, for_service, to;
      if (fields >> token >> for_service >> to && for_service == service && to == email) {
        found = token;
      }
    }
    return found;
  }
  // Every token issued so far stops being accepted.
  void RevokeTokens() const { dir_.Write("tokens.txt", ""); }

  // Configuration for a ProsodyPeer with the "ombrix_token" module (its `extra_config`): a
  // host `domain` with a certificate that `pki` issued for that name, whose token logins
  // accept the tokens this service issued.
  std::string TokenHostConfig(const tlstest::TestPki& pki, const std::string& domain) const {
    const std::string& d = dir_.path();
    tlstest::CertOptions options;
    options.common_name = domain;
    options.alt_names = "DNS:" + domain;
    const tlstest::Credentials credentials = pki.Issue(options);
    tlstest::WritePem(d + "/" + domain + ".crt", credentials.cert.get());
    WriteKey(d + "/" + domain + ".key", credentials.key.get());
    return "ombrix_token_file = \"" + tokens_file() + "\"\n" +  //
           "VirtualHost \"" + domain + "\"\n" +                 //
           "ssl = { certificate = \"" + d + "/" + domain + ".crt\"; key = \"" + d + "/" + domain +
           ".key\"; }\n";
  }

  static void WriteKey(const std::string& path, EVP_PKEY* key) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return;
    PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(file);
  }

 private:
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  TempDir dir_;
  uint16_t port_;
  PeerProcess process_;
  bool started_ = false;
  std::string error_;
};

}  // namespace vexalo
