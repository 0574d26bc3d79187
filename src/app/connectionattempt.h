#pragma once

#include <deque>
#include <string>
#include <vector>

#include "base/proxy/proxysettings.h"
#include "base/net/socketaddress.h"

namespace vexalo {

// One way to reach the XMPP server: transport, address and proxy.
struct ConnectionAttempt {
  enum Protocol { kUdp = 0, kTcp = 1, kSslTcp = 2 };

  Protocol protocol = kTcp;
  SocketAddress server;
  ProxySettings proxy;

  static const char* ProtocolName(Protocol protocol);
};

// The attempts of one sign-in, tried in order.
using ConnectionList = std::deque<ConnectionAttempt>;

// For the service's own accounts: per resolved address of its XMPP host (or the host name
// alone when nothing resolved), tcp on `xmpp_port` and "ssltcp" on `ssltcp_port`, through
// the detected proxy first and then directly; "ssltcp" through an HTTP(S) or unknown proxy goes
// first of all, since such proxies usually allow port 443 only.
ConnectionList BuildServiceConnectionList(const std::vector<SocketAddress>& addresses,
                                          const std::string& host, uint16_t xmpp_port,
                                          uint16_t ssltcp_port, const ProxySettings& proxy);

// For any other XMPP server: every target (the account's server override, else the SRV
// targets, else the domain on 5222) over tcp, through the proxy when there is one, then
// directly.
ConnectionList BuildServerConnectionList(const std::vector<SocketAddress>& targets,
                                         const ProxySettings& proxy);

}  // namespace vexalo
