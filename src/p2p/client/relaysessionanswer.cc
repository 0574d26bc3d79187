#include "p2p/client/relaysessionanswer.h"

#include <charconv>
#include <map>

#include "base/runtime/logging.h"
#include "text/asciitext.h"

namespace vexalo {

namespace {


// The leading digits as a port; 0 for none, or for a number outside 1 to 65535.
uint16_t ReadPort(std::string_view text) {
  unsigned long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || value < 1 || value > 65535) return 0;
  return static_cast<uint16_t>(value);
}

bool ReadCredential(const std::map<std::string_view, std::string_view>& values,
                    std::string_view key, std::string* out) {
  auto it = values.find(key);
  if (it == values.end()) return true;
  if (it->second.size() > RelaySessionAnswer::kMaxCredentialBytes) {
    LOG(kWarning) << "Relay session answer: " << key << " too long";
    return false;
  }
  *out = std::string(it->second);
  return true;
}

}  // namespace

bool RelaySessionAnswer::Parse(std::string_view body, const SocketAddress& stun,
                               PortConfiguration* out) {
  if (body.size() > kMaxBodyBytes) {
    LOG(kWarning) << "Relay session answer too large: " << body.size() << " bytes";
    return false;
  }
  std::map<std::string_view, std::string_view> values;
  size_t at = 0;
  while (at < body.size()) {
    size_t end = body.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view line = body.substr(at, end - at);
    at = end + 1;
    if (line.size() > kMaxLineBytes) continue;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = Trim(line.substr(0, equals), " \t\r\n");
    const std::string_view value = Trim(line.substr(equals + 1), " \t\r\n");
    if (key.empty() || value.empty()) continue;
    values[key] = value;
  }

  PortConfiguration config;
  config.stun_address = stun;
  if (!ReadCredential(values, "username", &config.username) ||
      !ReadCredential(values, "password", &config.password) ||
      !ReadCredential(values, "magic_cookie", &config.magic_cookie)) {
    return false;
  }
  RelayServerEntry relay;
  auto ip = values.find("relay.ip");
  SocketAddress relay_address;
  const bool has_ip = ip != values.end() && ip->second.size() <= 15 &&
                      relay_address.SetIP(std::string(ip->second), false) &&
                      relay_address.ip() != 0;
  if (ip != values.end() && !has_ip) {
    LOG(kWarning) << "Relay session answer: relay.ip is not an IPv4 address";
  }
  const struct {
    const char* key;
    ProtocolType proto;
  } ports[] = {{"relay.udp_port", PROTO_UDP},
               {"relay.tcp_port", PROTO_TCP},
               {"relay.ssltcp_port", PROTO_SSLTCP}};
  for (const auto& p : ports) {
    auto it = values.find(p.key);
    if (it == values.end() || !has_ip) continue;
    const uint16_t port = ReadPort(it->second);
    if (port == 0) {
      LOG(kWarning) << "Relay session answer: bad " << p.key;
      continue;
    }
    relay.addresses.push_back(ProtocolAddress{SocketAddress(relay_address.ip(), port), p.proto});
  }
  config.relays.push_back(std::move(relay));
  *out = std::move(config);
  return true;
}

}  // namespace vexalo
