#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vexalo {

// An IPv4 or IPv6 address and port, optionally with the host name it came from. The name is
// kept after resolution and is what the address prints as, so logs and proxy requests show what
// the user configured. Names are looked up as IPv4 only; an IPv6 address comes from a numeric
// literal ("::1"), which needs no lookup, or from a socket.
class SocketAddress {
 public:
  SocketAddress() = default;
  SocketAddress(uint32_t ip, uint16_t port) : ip_(ip), port_(port) {}
  // Resolves at once when `use_dns` allows it (blocking: worker threads only).
  SocketAddress(const std::string& hostname, uint16_t port, bool use_dns);

  // A numeric ip clears the host name.
  void SetIP(uint32_t ip);
  // An IPv6 address (16 bytes in network order); clears the host name.
  void SetIPv6(const in6_addr& ip);
  // Stores the name, clears the ip and resolves it; the result of Resolve.
  bool SetIP(const std::string& hostname, bool use_dns);
  void SetPort(uint16_t port) { port_ = port; }
  // Keeps the name but records what it resolved to.
  void SetResolvedIP(uint32_t ip) {
    ip_ = ip;
    v6_ = false;
  }

  const std::string& hostname() const { return hostname_; }
  // The IPv4 address in host order; 0 for an IPv6 one.
  uint32_t ip() const { return ip_; }
  uint16_t port() const { return port_; }
  bool IsIPv6() const { return v6_; }
  // The IPv6 address in network order (all zero for an IPv4 one).
  const std::array<uint8_t, 16>& ipv6() const { return ip6_; }
  int family() const { return v6_ ? AF_INET6 : AF_INET; }

  bool IsAny() const;
  bool IsUnresolved() const { return ip_ == 0 && !v6_ && !hostname_.empty(); }
  bool IsLoopbackIP() const;
  // Loopback and the private ranges (IPv6: unique local fc00::/7 and link-local fe80::/10).
  bool IsPrivateIP() const;

  // Same ip, and when both are unresolved the same name.
  bool EqualIPs(const SocketAddress& other) const;
  bool operator==(const SocketAddress& other) const;
  bool operator!=(const SocketAddress& other) const { return !(*this == other); }
  bool operator<(const SocketAddress& other) const;

  // The host name if set, else the dotted number (IPv6: the usual compressed text).
  std::string IPAsString() const;
  // IPAsString as a host stands in a URL, a Host header or a CONNECT request: an IPv6
  // literal in brackets.
  std::string IPAsUriString() const;
  std::string PortAsString() const;
  // "host:port"; "[v6]:port" for an IPv6 address, so that the text parses back.
  std::string ToString() const;

  // IPv4 only.
  void ToSockAddr(sockaddr_in* out) const;
  void FromSockAddr(const sockaddr_in& in);
  // Either family; returns the length of the filled-in address.
  socklen_t ToSockAddr(sockaddr_storage* out) const;
  // False (address unchanged) for a family other than IPv4 and IPv6.
  bool FromSockAddr(const sockaddr* in, socklen_t length);

  // Looks the name up again unless it has an ip already and `force` is false. Blocking when it
  // has to ask DNS.
  bool Resolve(bool force, bool use_dns);

  // Parses "a.b.c.d" or "a.b.c.d:port" (or "name:port" as an unresolved address), "[v6]" or
  // "[v6]:port". False on text that is none of these.
  static bool FromString(const std::string& text, SocketAddress* out);

  static std::string IPToString(uint32_t ip);
  // Dotted decimal only; false for anything else (and, as the classic parser did, for
  // "255.255.255.255").
  static bool StringToIP(const std::string& text, uint32_t* ip);
  // An IPv6 address in text form without brackets ("::1", "2001:db8::5"); no zone index.
  static bool StringToIPv6(const std::string& text, in6_addr* ip);
  static std::string IPv6ToString(const in6_addr& ip);
  // The ip of a name in host order, or 0. Numeric names need no DNS; otherwise blocks in
  // getaddrinfo when `use_dns` is true.
  static uint32_t Lookup(const std::string& hostname, bool use_dns);
  // Every IPv4 address of a name, in the resolver's order (at most `max`), blocking; the
  // getaddrinfo error (0 on success) in `error`.
  static std::vector<uint32_t> LookupAll(const std::string& hostname, size_t max, int* error);

  size_t Hash() const;

 private:
  std::string hostname_;
  uint32_t ip_ = 0;
  uint16_t port_ = 0;
  bool v6_ = false;
  std::array<uint8_t, 16> ip6_{};
};

}  // namespace vexalo

template <>
struct std::hash<vexalo::SocketAddress> {
  size_t operator()(const vexalo::SocketAddress& address) const { return address.Hash(); }
};
