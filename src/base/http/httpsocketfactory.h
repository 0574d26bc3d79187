#pragma once

#include <string>

#include "base/net/eventsocket.h"
#include "base/runtime/logging.h"
#include "base/proxy/proxysettings.h"

namespace vexalo {

class SocketHub;

// Makes the sockets of HTTP exchanges: a socket of the hub with, as they apply, a binary
// traffic log, the proxy dialogue (SOCKS5, or an HTTP CONNECT tunnel), TLS towards the
// server's name, and a text traffic log of what the exchange itself sees.
//
// Plain HTTP through an HTTP proxy is not tunnelled: the exchange connects to the proxy and
// names the server in an absolute request target (ProxiesPlainHttp).
class HttpSocketFactory {
 public:
  // `hub` is not owned. `user_agent` goes into CONNECT requests.
  HttpSocketFactory(SocketHub* hub, const ProxySettings& proxy, const std::string& user_agent);
  HttpSocketFactory(const HttpSocketFactory&) = delete;
  HttpSocketFactory& operator=(const HttpSocketFactory&) = delete;

  // The server name CreateEventSocket starts TLS towards (empty: no TLS).
  void SetTlsHost(const std::string& host) { tls_host_ = host; }
  // An extra CA file trusted by this factory's TLS sockets instead of the process-wide one.
  void SetCaFile(const std::string& path) { ca_file_ = path; }
  // Traffic logging under `label` (empty: none). Binary logs show the raw bytes (proxy
  // dialogue and ciphertext too); text logs the plain exchange's leaders and headers, with
  // credentials and cookies removed and bodies only counted.
  void SetTrafficLog(const std::string& label, LogSeverity severity = kVerbose,
                     bool binary = false);

  // A socket straight from the hub.
  EventSocket* CreateSocket(int type);
  // A socket with the whole stack, TLS towards the host of SetTlsHost; null on failure.
  EventSocket* CreateEventSocket(int type);
  // A stream socket with the whole stack for one server: TLS towards `tls_host` unless it is
  // empty, through the proxy unless `direct`. Null on failure.
  EventSocket* CreateStreamSocket(const std::string& tls_host, bool direct);

  // True (with the proxy's address) when plain HTTP should be sent to an HTTP proxy.
  bool ProxiesPlainHttp(SocketAddress* proxy) const;
  const ProxySettings& proxy() const { return proxy_; }
  SocketHub* hub() const { return hub_; }

 private:
  SocketHub* hub_;
  ProxySettings proxy_;
  std::string user_agent_;
  std::string tls_host_;
  std::string ca_file_;
  std::string log_label_;
  LogSeverity log_severity_ = kVerbose;
  bool log_binary_ = false;
};

}  // namespace vexalo
