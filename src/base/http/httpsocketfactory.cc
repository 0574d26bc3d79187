#include "base/http/httpsocketfactory.h"

#include "base/proxy/asynchttpsproxysocket.h"
#include "base/proxy/asyncsocks5proxysocket.h"
#include "base/http/httptrafficlogadapter.h"
#include "base/net/sockethub.h"
#include "base/tls/tlsadapter.h"
#include "base/net/trafficlogadapter.h"

namespace vexalo {

HttpSocketFactory::HttpSocketFactory(SocketHub* hub, const ProxySettings& proxy,
                                     const std::string& user_agent)
    : hub_(hub), proxy_(proxy), user_agent_(user_agent) {}

void HttpSocketFactory::SetTrafficLog(const std::string& label, LogSeverity severity,
                                      bool binary) {
  log_label_ = label;
  log_severity_ = severity;
  log_binary_ = binary;
}

EventSocket* HttpSocketFactory::CreateSocket(int type) { return hub_->CreateSocket(type); }

EventSocket* HttpSocketFactory::CreateEventSocket(int type) {
  if (type != kStreamSocket) return hub_->CreateEventSocket(type);
  return CreateStreamSocket(tls_host_, false);
}

EventSocket* HttpSocketFactory::CreateStreamSocket(const std::string& tls_host, bool direct) {
  EventSocket* socket = hub_->CreateEventSocket(kStreamSocket);
  if (!socket) return nullptr;
  if (!log_label_.empty() && log_binary_) {
    socket = new TrafficLogAdapter(socket, log_severity_, log_label_, true);
  }
  if (!direct && proxy_.type == PROXY_SOCKS5) {
    socket = new AsyncSocks5ProxySocket(socket, proxy_.address, proxy_.username, proxy_.password);
  } else if (!direct && proxy_.type != PROXY_NONE) {
    socket = new AsyncHttpsProxySocket(socket, user_agent_, proxy_.address, proxy_.username,
                                       proxy_.password);
  }
  if (!tls_host.empty()) {
    auto* tls = new TlsAdapter(socket);
    if (!ca_file_.empty()) tls->SetCaFile(ca_file_);
    socket = tls;
    if (tls->StartSSL(tls_host, true) != 0) {
      delete socket;
      return nullptr;
    }
  }
  if (!log_label_.empty() && !log_binary_) {
    // HTTP-aware: cookies and bodies (form posts) stay out of the log as well as credentials.
    socket = new HttpTrafficLogAdapter(socket, log_severity_, log_label_);
  }
  return socket;
}

bool HttpSocketFactory::ProxiesPlainHttp(SocketAddress* proxy) const {
  if (proxy_.type != PROXY_HTTPS && proxy_.type != PROXY_UNKNOWN) return false;
  if (proxy) *proxy = proxy_.address;
  return true;
}

}  // namespace vexalo
