#include "xmpp/server/relayinfo.h"

#include <charconv>

#include "base/runtime/logging.h"
#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

bool RelayInfo::IsValidHostName(std::string_view host) {
  if (host.empty() || host.size() > kMaxHostNameLength) return false;
  if (host.back() == '.') host.remove_suffix(1);  // the root label
  size_t label_start = 0;
  for (size_t i = 0; i <= host.size(); ++i) {
    if (i == host.size() || host[i] == '.') {
      std::string_view label = host.substr(label_start, i - label_start);
      if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
        return false;
      }
      label_start = i + 1;
    } else if (!IsAsciiAlnum(host[i]) && host[i] != '-') {
      return false;
    }
  }
  return true;
}

bool RelayInfo::ParsePort(std::string_view text, uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  uint32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  if (value < 1 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

bool RelayInfo::IsValidToken(std::string_view token) {
  if (token.size() > kMaxTokenLength) return false;
  for (char c : token) {
    if (c <= ' ' || c > '~') return false;
  }
  return true;
}

RelayInfo RelayInfo::Parse(const XmlElem& query) {
  RelayInfo info;
  if (const XmlElem* stun = query.FindChild(kQnRelayInfoStun)) {
    for (const XmlElem* server = stun->FindChild(kQnRelayInfoServer);
         server != nullptr && info.stun_servers.size() < kMaxServers;
         server = server->FindNextSibling(kQnRelayInfoServer)) {
      const std::string& host = server->GetAttribute(kQnHost);
      const std::string& udp = server->GetAttribute(kQnUdp);
      if (host.empty() || udp.empty()) continue;
      uint16_t port = 0;
      if (!IsValidHostName(host) || !ParsePort(udp, &port)) {
        LOG(kWarning) << "RelayInfo::Parse - unusable STUN server entry skipped";
        continue;
      }
      info.stun_servers.emplace_back(host, port, false);
    }
  }
  if (const XmlElem* relay = query.FindChild(kQnRelayInfoRelay)) {
    const std::string& token = relay->ChildText(kQnRelayInfoToken);
    if (IsValidToken(token)) {
      info.token = token;
    } else {
      LOG(kWarning) << "RelayInfo::Parse - malformed relay token ignored";
    }
    for (const XmlElem* server = relay->FindChild(kQnRelayInfoServer);
         server != nullptr && info.relay_hosts.size() < kMaxServers;
         server = server->FindNextSibling(kQnRelayInfoServer)) {
      const std::string& host = server->GetAttribute(kQnHost);
      if (host.empty()) continue;
      if (!IsValidHostName(host)) {
        LOG(kWarning) << "RelayInfo::Parse - unusable relay host skipped";
        continue;
      }
      info.relay_hosts.push_back(host);
    }
  }
  return info;
}

}  // namespace vexalo
