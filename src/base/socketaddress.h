#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vexalo {

// An IPv4 address and port, optionally with the host name it came from. The name is kept after
// resolution and is what the address prints as, so logs and proxy requests show what the user
// configured.
class SocketAddress {
 public:
  SocketAddress() = default;
  SocketAddress(uint32_t ip, uint16_t port) : ip_(ip), port_(port) {}
  // Resolves at once when `use_dns` allows it (blocking: worker threads only).
  SocketAddress(const std::string& hostname, uint16_t port, bool use_dns);

  // A numeric ip clears the host name.
  void SetIP(uint32_t ip);
  // Stores the name, clears the ip and resolves it; the result of Resolve.
  bool SetIP(const std::string& hostname, bool use_dns);
  void SetPort(uint16_t port) { port_ = port; }
  // Keeps the name but records what it resolved to.
  void SetResolvedIP(uint32_t ip) { ip_ = ip; }

  const std::string& hostname() const { return hostname_; }
  uint32_t ip() const { return ip_; }
  uint16_t port() const { return port_; }

  bool IsAny() const { return ip_ == 0; }
  bool IsUnresolved() const { return ip_ == 0 && !hostname_.empty(); }
  bool IsLoopbackIP() const { return (ip_ >> 24) == 127; }
  bool IsPrivateIP() const;

  // Same ip, and when both are unresolved the same name.
  bool EqualIPs(const SocketAddress& other) const;
  bool operator==(const SocketAddress& other) const;
  bool operator!=(const SocketAddress& other) const { return !(*this == other); }
  bool operator<(const SocketAddress& other) const;

  // The host name if set, else the dotted number.
  std::string IPAsString() const;
  std::string PortAsString() const;
  std::string ToString() const;

  void ToSockAddr(sockaddr_in* out) const;
  void FromSockAddr(const sockaddr_in& in);

  // Looks the name up again unless it has an ip already and `force` is false. Blocking when it
  // has to ask DNS.
  bool Resolve(bool force, bool use_dns);

  // Parses "a.b.c.d" or "a.b.c.d:port" (or "name:port" as an unresolved address). False on text
  // that is neither.
  static bool FromString(const std::string& text, SocketAddress* out);

  static std::string IPToString(uint32_t ip);
  // Dotted decimal only; false for anything else (and, as the classic parser did, for
  // "255.255.255.255").
  static bool StringToIP(const std::string& text, uint32_t* ip);
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
};

}  // namespace vexalo

template <>
struct std::hash<vexalo::SocketAddress> {
  size_t operator()(const vexalo::SocketAddress& address) const { return address.Hash(); }
};
