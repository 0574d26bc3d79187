#include "base/socketaddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <charconv>
#include <cstring>

#include "base/logging.h"

namespace vexalo {

SocketAddress::SocketAddress(const std::string& hostname, uint16_t port, bool use_dns) {
  SetIP(hostname, use_dns);
  port_ = port;
}

void SocketAddress::SetIP(uint32_t ip) {
  hostname_.clear();
  ip_ = ip;
}

bool SocketAddress::SetIP(const std::string& hostname, bool use_dns) {
  hostname_ = hostname;
  ip_ = 0;
  return Resolve(true, use_dns);
}

bool SocketAddress::IsPrivateIP() const {
  uint32_t top = ip_ >> 24;
  return top == 127 || top == 10 || (ip_ & 0xFFF00000u) == 0xAC100000u ||
         (ip_ & 0xFFFF0000u) == 0xC0A80000u;
}

bool SocketAddress::EqualIPs(const SocketAddress& other) const {
  return ip_ == other.ip_ && (ip_ != 0 || hostname_ == other.hostname_);
}

bool SocketAddress::operator==(const SocketAddress& other) const {
  return EqualIPs(other) && port_ == other.port_;
}

bool SocketAddress::operator<(const SocketAddress& other) const {
  if (ip_ != other.ip_) return ip_ < other.ip_;
  if (ip_ == 0 && hostname_ != other.hostname_) return hostname_ < other.hostname_;
  return port_ < other.port_;
}

std::string SocketAddress::IPAsString() const {
  return hostname_.empty() ? IPToString(ip_) : hostname_;
}

std::string SocketAddress::PortAsString() const { return std::to_string(port_); }

std::string SocketAddress::ToString() const { return IPAsString() + ":" + PortAsString(); }

void SocketAddress::ToSockAddr(sockaddr_in* out) const {
  std::memset(out, 0, sizeof(*out));
  out->sin_family = AF_INET;
  out->sin_port = htons(port_);
  out->sin_addr.s_addr = htonl(ip_);
}

void SocketAddress::FromSockAddr(const sockaddr_in& in) {
  hostname_.clear();
  ip_ = ntohl(in.sin_addr.s_addr);
  port_ = ntohs(in.sin_port);
}

bool SocketAddress::Resolve(bool force, bool use_dns) {
  if (hostname_.empty()) return true;
  if (!force && ip_ != 0) return true;
  uint32_t ip = Lookup(hostname_, use_dns);
  if (ip == 0) return false;
  ip_ = ip;
  return true;
}

bool SocketAddress::FromString(const std::string& text, SocketAddress* out) {
  std::string host = text;
  uint16_t port = 0;
  size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    const char* first = text.data() + colon + 1;
    const char* last = text.data() + text.size();
    auto [end, ec] = std::from_chars(first, last, port);
    if (ec != std::errc() || end != last || first == last) return false;
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
  size_t h = std::hash<uint32_t>()(ip_) * 31 + port_;
  if (ip_ == 0) h ^= std::hash<std::string>()(hostname_);
  return h;
}

}  // namespace vexalo
