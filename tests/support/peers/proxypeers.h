#pragma once

// Real proxies (squid, tinyproxy, dante) and an echo server, started on 127.0.0.1 by the tests.
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/proxy/proxysettings.h"
#include "support/scriptedtcpserver.h"
#include "support/peerprocess.h"

namespace vexalo {

// An echo server behind the proxy.
class EchoServer {
 public:
  EchoServer() {
    peer_.on_data = [](size_t, ScriptedTcpServer::Connection* c) {
      c->Send(c->received);
      c->received.clear();
    };
  }
  SocketAddress address() const { return peer_.address(); }

 private:
  ScriptedTcpServer peer_;
};

// `access_log`: "none", or where and how squid logs each request; the "vexalo" format gives
// the client's port (which connection), the outcome, the request and the authenticated user.
inline std::string SquidConfig(const std::string& dir, uint16_t port, const std::string& auth,
                               const std::string& access_log = "none") {
  std::string config =
      "http_port 127.0.0.1:" + std::to_string(port) + "\n"
      "pinger_enable off\n"
      "dns_nameservers 127.0.0.1\n"
      "udp_incoming_address 127.0.0.1\n"
      "cache deny all\n"
      "shutdown_lifetime 0 seconds\n"
      "cache_log " + dir + "/cache.log\n"
      "logformat vexalo %>p %Ss/%03>Hs %rm %ru %un\n"
      "access_log " + access_log + "\n"
      "pid_filename " + dir + "/squid.pid\n"
      "coredump_dir " + dir + "\n" +
      auth;
  if (auth.empty()) {
    config += "http_access allow all\n";
  } else {
    config += "acl authed proxy_auth REQUIRED\nhttp_access allow authed\nhttp_access deny all\n";
  }
  return config;
}

// A proxy program in its own folder, listening on a free loopback port.
class ProxyPeer {
 public:
  bool started() const { return started_; }
  const std::string& error() const { return error_; }
  SocketAddress address() const { return SocketAddress(0x7F000001u, port_); }

 protected:
  ProxyPeer() : port_(FreeLoopbackPort()) {}
  void Run(const std::vector<std::string>& argv) {
    started_ = process_.Start(argv, port_, dir_.path() + "/out.log", &error_);
  }

  PeerProcess& process() { return process_; }

  TempDir dir_;
  uint16_t port_;

 private:
  PeerProcess process_;
  bool started_ = false;
  std::string error_;
};

class SquidPeer : public ProxyPeer {
 public:
  // `scheme`: "", "basic", "digest" or "negotiate" (Kerberos, with the service keys in
  // `keytab`; any service in it is accepted).
  explicit SquidPeer(const std::string& scheme, const std::string& keytab = "")
      : scheme_(scheme) {
    const std::string& d = dir_.path();
    std::string auth;
    std::string access_log = "none";
    if (scheme == "basic") {
      RunCommand({"sh", "-c", "printf 'alice:%s\\n' \"$(openssl passwd -apr1 wonderland)\" > " +
                                  d + "/basic.passwd"});
      auth = "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + d +
             "/basic.passwd\nauth_param basic realm vexalo\n";
    } else if (scheme == "digest") {
      dir_.Write("digest.passwd", "alice:wonderland\n");
      auth = "auth_param digest program /usr/lib/squid/digest_file_auth " + d +
             "/digest.passwd\nauth_param digest realm vexalo\n";
    } else if (scheme == "negotiate") {
      RunCommand({"cp", keytab, d + "/http.keytab"});
      // The replay cache lives here too: the helper runs as squid's user.
      auth = "auth_param negotiate program /usr/lib/squid/negotiate_kerberos_auth -k " + d +
             "/http.keytab -s GSS_C_NO_NAME -c " + d + "\nauth_param negotiate children 2\n";
      access_log = "stdio:" + d + "/access.log vexalo";
    }
    dir_.Write("squid.conf", SquidConfig(d, port_, auth, access_log));
    if (getuid() == 0) RunCommand({"chown", "-R", "proxy:proxy", d});
    Run({"squid", "-f", d + "/squid.conf", "-N"});
  }

  // How a client reaches this proxy, with the test account for "basic" and "digest".
  ProxySettings Settings() const {
    ProxySettings proxy;
    proxy.type = PROXY_HTTPS;
    proxy.address = address();
    if (scheme_ == "basic" || scheme_ == "digest") {
      proxy.username = "alice";
      proxy.password = SecretText::FromClearText("wonderland");
    }
    return proxy;
  }

  // The access log so far (empty unless the scheme keeps one).
  std::string access_log() const {
    std::ifstream in(dir_.path() + "/access.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::string scheme_;
};

class TinyproxyPeer : public ProxyPeer {
 public:
  TinyproxyPeer() {
    const std::string& d = dir_.path();
    dir_.Write("tinyproxy.conf",
               "Port " + std::to_string(port_) + "\nListen 127.0.0.1\nTimeout 30\n"
               "MaxClients 20\nAllow 127.0.0.1\nBasicAuth alice wonderland\n"
               "LogLevel Info\nUser nobody\nGroup nogroup\n");
    Run({"tinyproxy", "-d", "-c", d + "/tinyproxy.conf"});
  }
};

class DantePeer : public ProxyPeer {
 public:
  explicit DantePeer(bool with_password) {
    const std::string& d = dir_.path();
    std::string method = with_password ? "username" : "none";
    dir_.Write("danted.conf",
               "logoutput: " + d + "/danted.log\n"
               "internal: 127.0.0.1 port = " + std::to_string(port_) + "\n"
               "external: 127.0.0.1\n"
               "clientmethod: none\n"
               "socksmethod: " + method + "\n"
               "user.privileged: root\n"
               "user.unprivileged: nobody\n"
               "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
               "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n");
    Run({"danted", "-f", d + "/danted.conf", "-p", d + "/danted.pid"});
  }

  // How a client reaches this proxy; a password, when it wants one, is the caller's to add.
  ProxySettings Settings() const {
    ProxySettings proxy;
    proxy.type = PROXY_SOCKS5;
    proxy.address = address();
    return proxy;
  }
};

}  // namespace vexalo
