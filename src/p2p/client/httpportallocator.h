#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/net/socketaddress.h"
#include "p2p/client/portallocator.h"

namespace vexalo {

// The service's allocator: every session first asks a relay host over HTTP(S) for a relay
// session, and its configuration carries the STUN server and the relay.
class HTTPPortAllocator : public PortAllocator {
 public:
  static constexpr uint16_t kDefaultRelaySessionPort = 80;

  // `worker`: the sessions' thread. `stun_hosts` and `relay_hosts` are the defaults until
  // the service reports its own.
  HTTPPortAllocator(EventQueue* worker, std::vector<SocketAddress> stun_hosts,
                    std::vector<std::string> relay_hosts, bool include_loopback = false);

  std::unique_ptr<AllocatorSession> CreateSession(const std::string& name,
                                                  int generation) override;

  void SetStunHosts(std::vector<SocketAddress> hosts) { stun_hosts_ = std::move(hosts); }
  void SetRelayHosts(std::vector<std::string> hosts) { relay_hosts_ = std::move(hosts); }
  // Never logged.
  void SetRelayToken(std::string token) { relay_token_ = std::move(token); }
  // Scheme and port of the relay session request, from the service profile.
  void SetRelaySessionEndpoint(bool secure, uint16_t port) {
    secure_ = secure;
    port_ = port;
  }
  // The phone session namespace, sent as "X-Session-Type".
  void SetSessionType(std::string type) { session_type_ = std::move(type); }
  // Without a relay token the request carries this cookie instead.
  void SetServiceCookie(std::string cookie) { service_cookie_ = std::move(cookie); }
  // Extra CA file for HTTPS relay hosts (tests).
  void SetCaFile(std::string path) { ca_file_ = std::move(path); }

  const std::vector<SocketAddress>& stun_hosts() const { return stun_hosts_; }
  const std::vector<std::string>& relay_hosts() const { return relay_hosts_; }
  const std::string& relay_token() const { return relay_token_; }
  const std::string& service_cookie() const { return service_cookie_; }
  const std::string& session_type() const { return session_type_; }
  const std::string& ca_file() const { return ca_file_; }
  bool secure() const { return secure_; }
  uint16_t port() const { return port_; }

 private:
  std::vector<SocketAddress> stun_hosts_;
  std::vector<std::string> relay_hosts_;
  std::string relay_token_;
  std::string service_cookie_;
  std::string session_type_;
  std::string ca_file_;
  bool secure_ = false;
  uint16_t port_ = kDefaultRelaySessionPort;
};

}  // namespace vexalo
