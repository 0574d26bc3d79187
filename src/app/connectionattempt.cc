#include "app/connectionattempt.h"

namespace vexalo {

const char* ConnectionAttempt::ProtocolName(Protocol protocol) {
  switch (protocol) {
    case kUdp:
      return "udp";
    case kTcp:
      return "tcp";
    case kSslTcp:
      return "ssltcp";
  }
  return "unknown";
}

ConnectionList BuildServiceConnectionList(const std::vector<SocketAddress>& addresses,
                                          const std::string& host, uint16_t xmpp_port,
                                          uint16_t ssltcp_port, const ProxySettings& proxy) {
  std::vector<SocketAddress> targets = addresses;
  if (targets.empty()) targets.emplace_back(host, 0, false);
  const bool https_like = proxy.type == PROXY_HTTPS || proxy.type == PROXY_UNKNOWN;
  const ProxySettings direct;
  ConnectionList list;
  for (const SocketAddress& address : targets) {
    SocketAddress tcp = address;
    tcp.SetPort(xmpp_port);
    SocketAddress ssltcp = address;
    ssltcp.SetPort(ssltcp_port);
    list.push_back({ConnectionAttempt::kTcp, tcp, proxy});
    if (https_like) {
      list.push_front({ConnectionAttempt::kSslTcp, ssltcp, proxy});
    } else {
      list.push_back({ConnectionAttempt::kSslTcp, ssltcp, proxy});
    }
    if (proxy.type == PROXY_NONE) continue;
    list.push_back({ConnectionAttempt::kTcp, tcp, direct});
    list.push_back({ConnectionAttempt::kSslTcp, ssltcp, direct});
  }
  return list;
}

ConnectionList BuildServerConnectionList(const std::vector<SocketAddress>& targets,
                                         const ProxySettings& proxy) {
  ConnectionList list;
  for (const SocketAddress& target : targets) {
    list.push_back({ConnectionAttempt::kTcp, target, proxy});
    if (proxy.type != PROXY_NONE) list.push_back({ConnectionAttempt::kTcp, target, ProxySettings()});
  }
  return list;
}

}  // namespace vexalo
