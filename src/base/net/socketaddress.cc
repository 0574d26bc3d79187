#include "base/net/socketaddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <charconv>
#include <cstring>
#include <string_view>

#include "base/runtime/logging.h"

namespace vexalo {

SocketAddress::SocketAddress(const std::string& hostname, uint16_t port, bool use_dns) {
  SetIP(hostname, use_dns);
  port_ = port;
}

void SocketAddress::SetIP(uint32_t ip) {
  hostname_.clear();
  ip_ = ip;
  v6_ = false;
  ip6_.fill(0);
}

void SocketAddress::SetIPv6(const in6_addr& ip) {
  hostname_.clear();
  ip_ = 0;
  v6_ = true;
  std::memcpy(ip6_.data(), &ip, ip6_.size());
}

bool SocketAddress::SetIP(const std::string& hostname, bool use_dns) {
  hostname_ = hostname;
  ip_ = 0;
  v6_ = false;
  ip6_.fill(0);
  return Resolve(true, use_dns);
}

bool SocketAddress::IsAny() const {
  if (!v6_) return ip_ == 0;
  for (uint8_t byte : ip6_) {
    if (byte != 0) return false;
  }
  return true;
}

bool SocketAddress::IsLoopbackIP() const {
  if (!v6_) return (ip_ >> 24) == 127;
  static constexpr std::array<uint8_t, 16> kLoopback{0, 0, 0, 0, 0, 0, 0, 0,
                                                     0, 0, 0, 0, 0, 0, 0, 1};
  return ip6_ == kLoopback;
}

bool SocketAddress::IsPrivateIP() const {
  if (v6_) {
    return IsLoopbackIP() || (ip6_[0] & 0xFE) == 0xFC ||
           (ip6_[0] == 0xFE && (ip6_[1] & 0xC0) == 0x80);
  }
  uint32_t top = ip_ >> 24;
  return top == 127 || top == 10 || (ip_ & 0xFFF00000u) == 0xAC100000u ||
         (ip_ & 0xFFFF0000u) == 0xC0A80000u;
}

bool SocketAddress::EqualIPs(const SocketAddress& other) const {
  if (v6_ || other.v6_) return v6_ == other.v6_ && ip6_ == other.ip6_;
  return ip_ == other.ip_ && (ip_ != 0 || hostname_ == other.hostname_);
}

bool SocketAddress::operator==(const SocketAddress& other) const {
  return EqualIPs(other) && port_ == other.port_;
}

bool SocketAddress::operator<(const SocketAddress& other) const {
  // IPv4 (and unresolved names) before IPv6.
  if (v6_ != other.v6_) return other.v6_;
  if (v6_) {
    if (ip6_ != other.ip6_) return ip6_ < other.ip6_;
    return port_ < other.port_;
  }
  if (ip_ != other.ip_) return ip_ < other.ip_;
  if (ip_ == 0 && hostname_ != other.hostname_) return hostname_ < other.hostname_;
  return port_ < other.port_;
}

std::string SocketAddress::IPAsString() const {
  if (!hostname_.empty()) return hostname_;
  if (!v6_) return IPToString(ip_);
  in6_addr ip;
  std::memcpy(&ip, ip6_.data(), ip6_.size());
  return IPv6ToString(ip);
}

std::string SocketAddress::IPAsUriString() const {
  std::string host = IPAsString();
  // Only an IPv6 literal has colons in it; unbracketed it would run into the port.
  if (host.find(':') != std::string::npos) return "[" + host + "]";
  return host;
}

std::string SocketAddress::PortAsString() const { return std::to_string(port_); }

std::string SocketAddress::ToString() const { return IPAsUriString() + ":" + PortAsString(); }

void SocketAddress::ToSockAddr(sockaddr_in* out) const {
  std::memset(out, 0, sizeof(*out));
  out->sin_family = AF_INET;
  out->sin_port = htons(port_);
  out->sin_addr.s_addr = htonl(ip_);
}

void SocketAddress::FromSockAddr(const sockaddr_in& in) {
  SetIP(ntohl(in.sin_addr.s_addr));
  port_ = ntohs(in.sin_port);
}

socklen_t SocketAddress::ToSockAddr(sockaddr_storage* out) const {
  std::memset(out, 0, sizeof(*out));
  if (!v6_) {
    ToSockAddr(reinterpret_cast<sockaddr_in*>(out));
    return sizeof(sockaddr_in);
  }
  auto* in6 = reinterpret_cast<sockaddr_in6*>(out);
  in6->sin6_family = AF_INET6;
  in6->sin6_port = htons(port_);
  std::memcpy(&in6->sin6_addr, ip6_.data(), ip6_.size());
  return sizeof(sockaddr_in6);
}

bool SocketAddress::FromSockAddr(const sockaddr* in, socklen_t length) {
  if (in->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
    FromSockAddr(*reinterpret_cast<const sockaddr_in*>(in));
    return true;
  }
  if (in->sa_family != AF_INET6 || length < static_cast<socklen_t>(sizeof(sockaddr_in6))) {
    return false;
  }
  const auto* in6 = reinterpret_cast<const sockaddr_in6*>(in);
  if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
    // An IPv4 peer seen through an IPv6 socket is the IPv4 address it always was.
    uint32_t ip;
    std::memcpy(&ip, in6->sin6_addr.s6_addr + 12, sizeof(ip));
    SetIP(ntohl(ip));
  } else {
    SetIPv6(in6->sin6_addr);
  }
  port_ = ntohs(in6->sin6_port);
  return true;
}

bool SocketAddress::Resolve(bool force, bool use_dns) {
  if (hostname_.empty()) return true;
  if (!force && (ip_ != 0 || v6_)) return true;
  in6_addr literal;
  if (StringToIPv6(hostname_, &literal)) {
    ip_ = 0;
    v6_ = true;
    std::memcpy(ip6_.data(), &literal, ip6_.size());
    return true;
  }
  uint32_t ip = Lookup(hostname_, use_dns);
  if (ip == 0) return false;
  ip_ = ip;
  v6_ = false;
  ip6_.fill(0);
  return true;
}

namespace {

// Decimal 0-65535 filling the whole text.
bool ParsePort(std::string_view digits, uint16_t* port) {
  const char* first = digits.data();
  const char* last = first + digits.size();
  auto [end, ec] = std::from_chars(first, last, *port);
  return ec == std::errc() && end == last && first != last;
}

}  // namespace

bool SocketAddress::FromString(const std::string& text, SocketAddress* out) {
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos) return false;
    in6_addr ip;
    if (!StringToIPv6(text.substr(1, close - 1), &ip)) return false;
    std::string_view rest = std::string_view(text).substr(close + 1);
    uint16_t port = 0;
    if (!rest.empty() && (rest[0] != ':' || !ParsePort(rest.substr(1), &port))) return false;
    SocketAddress parsed;
    parsed.SetIPv6(ip);
    parsed.SetPort(port);
    *out = parsed;
    return true;
  }
  std::string host = text;
  uint16_t port = 0;
  size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    if (!ParsePort(std::string_view(text).substr(colon + 1), &port)) return false;
  }
  if (host.empty()) return false;
  for (char c : host) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  uint32_t ip;
  if (StringToIP(host, &ip)) {
    *out = SocketAddress(ip, port);
  } else {
    *out = SocketAddress(host, port, false);
  }
  return true;
}

std::string SocketAddress::IPToString(uint32_t ip) {
  return std::to_string(ip >> 24) + "." + std::to_string((ip >> 16) & 0xFF) + "." +
         std::to_string((ip >> 8) & 0xFF) + "." + std::to_string(ip & 0xFF);
}

bool SocketAddress::StringToIP(const std::string& text, uint32_t* ip) {
  in_addr parsed;
  // inet_pton takes exactly four decimal parts, which is what configured addresses look like.
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  uint32_t value = ntohl(parsed.s_addr);
  if (value == 0xFFFFFFFFu) return false;
  *ip = value;
  return true;
}

bool SocketAddress::StringToIPv6(const std::string& text, in6_addr* ip) {
  // inet_pton takes no brackets, no zone index ("%eth0") and no stray text.
  return inet_pton(AF_INET6, text.c_str(), ip) == 1;
}

std::string SocketAddress::IPv6ToString(const in6_addr& ip) {
  char text[INET6_ADDRSTRLEN];
  if (!inet_ntop(AF_INET6, &ip, text, sizeof(text))) return std::string();
  return text;
}

uint32_t SocketAddress::Lookup(const std::string& hostname, bool use_dns) {
  uint32_t ip;
  if (StringToIP(hostname, &ip)) return ip;
  if (!use_dns) return 0;
  LOG(kInfo) << "=== DNS RESOLUTION (" << hostname << ") ===";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int rc = getaddrinfo(hostname.c_str(), nullptr, &hints, &result);
  ip = 0;
  if (rc == 0 && result) {
    ip = ntohl(reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr);
  } else {
    LOG(kError) << "getaddrinfo error: " << rc << " " << gai_strerror(rc);
  }
  if (result) freeaddrinfo(result);
  LOG(kInfo) << hostname << " resolved to " << IPToString(ip);
  return ip;
}

std::vector<uint32_t> SocketAddress::LookupAll(const std::string& hostname, size_t max,
                                               int* error) {
  std::vector<uint32_t> ips;
  *error = 0;
  uint32_t ip;
  if (StringToIP(hostname, &ip)) {
    ips.push_back(ip);
    return ips;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  *error = getaddrinfo(hostname.c_str(), nullptr, &hints, &result);
  for (addrinfo* a = result; a && ips.size() < max; a = a->ai_next) {
    uint32_t found = ntohl(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
    bool seen = false;
    for (uint32_t known : ips) seen = seen || known == found;
    if (!seen) ips.push_back(found);
  }
  if (result) freeaddrinfo(result);
  return ips;
}

size_t SocketAddress::Hash() const {
  if (v6_) {
    size_t h = port_;
    for (uint8_t byte : ip6_) h = h * 131 + byte;
    return h;
  }
  size_t h = std::hash<uint32_t>()(ip_) * 31 + port_;
  if (ip_ == 0) h ^= std::hash<std::string>()(hostname_);
  return h;
}

}  // namespace vexalo
