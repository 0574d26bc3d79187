#pragma once

// A real nginx on 127.0.0.1 with a private configuration: a plain HTTP server and, with a
// test CA, an HTTPS one, serving small files, a chunked (SSI) body, redirect chains and
// locations that tell which connection and which request headers they saw. The plain server
// also listens on [::1] where the machine has IPv6 (ipv6()), takes uploads (PUT /upload/NAME
// stores the body as it arrived, see uploaded()) and tells what framing a request body came
// with and how long it was.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/tlstestpeer.h"
#include "support/peerprocess.h"

namespace vexalo {

class NginxPeer {
 public:
  // Redirect hops: /hop/N leads to /hop/N-1 ... /hop/0, which is the small file.
  static constexpr int kHops = 11;
  static constexpr size_t kSmallSize = 1024;

  // With `pki`, an HTTPS server with a certificate for localhost and 127.0.0.1 issued by it.
  explicit NginxPeer(const tlstest::TestPki* pki = nullptr)
      : http_port_(FreeLoopbackPort()), https_port_(pki ? FreeLoopbackPort() : 0) {
    const std::string& d = dir_.path();
    RunCommand({"mkdir", "-p", d + "/www/chunked", d + "/www/upload", d + "/logs", d + "/tmp"});
    ipv6_ = CanListenOnIPv6Loopback(http_port_);
    small_ = std::string(kSmallSize, 's');
    for (size_t i = 0; i < small_.size(); i += 64) small_[i] = '\n';
    dir_.Write("www/small.txt", small_);
    for (int i = 0; i < 20000; ++i) big_ += "line " + std::to_string(i) + " of the chunked body\n";
    dir_.Write("www/chunked/big.txt", big_);
    std::string tls;
    if (pki) {
      tlstest::Credentials server = pki->Issue(tlstest::CertOptions{});
      tlstest::WritePem(d + "/server.pem", server.cert.get());
      FILE* key = std::fopen((d + "/server.key").c_str(), "w");
      PEM_write_PrivateKey(key, server.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
      std::fclose(key);
      tls = "  server {\n"
            "    listen 127.0.0.1:" + std::to_string(https_port_) + " ssl;\n"
            "    ssl_certificate " + d + "/server.pem;\n"
            "    ssl_certificate_key " + d + "/server.key;\n" +
            Locations() + "  }\n";
    }
    std::string config =
        std::string(getuid() == 0 ? "user root;\n" : "") +
        "worker_processes 1;\n"
        "events { worker_connections 128; }\n"
        "http {\n"
        "  log_format conn '$connection $connection_requests $request';\n"
        "  access_log " + d + "/logs/access.log conn;\n"
        "  default_type text/plain;\n"
        "  keepalive_requests 100000;\n"
        "  server {\n"
        "    listen 127.0.0.1:" + std::to_string(http_port_) + ";\n" +
        (ipv6_ ? "    listen [::1]:" + std::to_string(http_port_) + ";\n" : std::string()) +
        Locations() + UploadLocations() + "  }\n" + tls + "}\n";
    dir_.Write("nginx.conf", config);
    std::string error;
    started_ = process_.Start({"/usr/sbin/nginx", "-p", d, "-c", d + "/nginx.conf", "-g",
                               "daemon off; pid " + d + "/nginx.pid; error_log " + d +
                                   "/logs/error.log;"},
                              http_port_, d + "/out.log", &error_);
    if (started_ && https_port_) started_ = WaitForPort(https_port_);
  }

  bool started() const { return started_; }
  const std::string& error() const { return error_; }
  uint16_t http_port() const { return http_port_; }
  uint16_t https_port() const { return https_port_; }
  std::string http(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(http_port_) + path;
  }
  std::string https(const std::string& path) const {
    return "https://localhost:" + std::to_string(https_port_) + path;
  }
  const std::string& small() const { return small_; }
  const std::string& big() const { return big_; }
  // The plain server also listens on [::1] (same port).
  bool ipv6() const { return ipv6_; }
  std::string http6(const std::string& path) const {
    return "http://[::1]:" + std::to_string(http_port_) + path;
  }
  // What a PUT to /upload/NAME stored; empty when there is no such file.
  std::string uploaded(const std::string& name) const {
    FILE* file = std::fopen((dir_.path() + "/www/upload/" + name).c_str(), "rb");
    if (!file) return std::string();
    std::string content;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) content.append(buffer, n);
    std::fclose(file);
    return content;
  }

 private:
  static bool CanListenOnIPv6Loopback(uint16_t port) {
    int fd = socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_port = htons(port);
    addr.sin6_addr = in6addr_loopback;
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return ok;
  }

  // Request bodies: stored whole (PUT), or counted by an upstream that gets them from nginx
  // with a Content-Length (nginx reads a chunked body whole before it passes it on).
  std::string UploadLocations() const {
    const std::string tmp = dir_.path() + "/tmp";
    return "    client_body_temp_path " + tmp + "/body;\n"
           "    proxy_temp_path " + tmp + "/proxy;\n"
           "    location /upload/ { dav_methods PUT; client_max_body_size 64m; }\n"
           "    location = /coding {\n"
           "      return 200 \"$request_method $content_length $http_transfer_encoding\";\n"
           "    }\n"
           "    location = /length { client_max_body_size 64m;\n"
           "      proxy_pass http://127.0.0.1:" + std::to_string(http_port_) + "/length-seen; }\n"
           "    location = /length-seen { client_max_body_size 64m;\n"
           "      return 200 \"$content_length\"; }\n"
           "    location = /to-length { return 307 http://127.0.0.1:" + std::to_string(http_port_) +
           "/length; }\n"
           "    location = /whoami { return 200 \"$server_addr $http_host\"; }\n";
  }

  static bool WaitForPort(uint16_t port) {
    for (int i = 0; i < 200; ++i) {
      if (IsLoopbackPortListening(port)) return true;
      usleep(25000);
    }
    return false;
  }

  std::string Locations() const {
    const std::string http = "http://127.0.0.1:" + std::to_string(http_port_);
    const std::string https = "https://localhost:" + std::to_string(https_port_);
    std::string text =
        "    root " + dir_.path() + "/www;\n"
        "    location = /conn { return 200 \"$connection\"; }\n"
        "    location = /close { keepalive_timeout 0; return 200 \"$connection\"; }\n"
        "    location /chunked/ { ssi on; ssi_types text/plain; }\n"
        "    location = /method { return 200 \"$request_method $content_length\"; }\n"
        "    location = /headers { return 200 \"auth=$http_authorization cookie=$http_cookie\"; }\n"
        "    location = /post303 { return 303 " + http + "/method; }\n"
        "    location = /post307 { return 307 " + http + "/method; }\n"
        "    location = /to-https { return 302 " + https + "/small.txt; }\n"
        "    location = /to-https-headers { return 302 " + https + "/headers; }\n"
        "    location = /to-http { return 302 " + http + "/small.txt; }\n"
        "    location = /relative { return 302 /small.txt; }\n"
        "    location = /hop/0 { return 302 " + http + "/small.txt; }\n";
    for (int i = 1; i <= kHops; ++i) {
      text += "    location = /hop/" + std::to_string(i) + " { return 302 " + http + "/hop/" +
              std::to_string(i - 1) + "; }\n";
    }
    return text;
  }

  TempDir dir_;
  uint16_t http_port_;
  uint16_t https_port_;
  std::string small_;
  std::string big_;
  PeerProcess process_;
  bool ipv6_ = false;
  bool started_ = false;
  std::string error_;
};

}  // namespace vexalo
