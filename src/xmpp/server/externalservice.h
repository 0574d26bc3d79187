#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xmlelem.h"

namespace vexalo {

// One STUN or TURN service that the user's server announces (external service discovery),
// with the short-lived credentials it hands out. Read from the network, so every field is
// checked: an entry that fails is dropped, never passed on half-read.
struct ExternalService {
  // Real servers list a handful (Prosody: up to six); anything past these is ignored.
  static constexpr size_t kMaxServices = 16;
  static constexpr size_t kMaxCredentialLength = 512;
  static constexpr size_t kMaxTypeLength = 16;

  std::string type;       // "stun", "turn", "turns", ...
  std::string transport;  // "udp" or "tcp"; empty when not given
  std::string host;       // a DNS name or dotted IPv4 address
  uint16_t port = 0;      // 0 when not given
  std::string username;   // never logged
  std::string password;   // never logged
  int64_t expires = 0;    // seconds since 1970 (UTC); 0: no expiry given
  bool restricted = false;

  bool IsTurnOverUdp() const { return type == "turn" && (transport.empty() || transport == "udp"); }
  bool HasCredentials() const { return !username.empty() && !password.empty(); }

  // The `service` children of a <services/> or <credentials/> element.
  static std::vector<ExternalService> ParseList(const XmlElem& list);
  // A date-time of the form 2026-12-11T09:30:00Z, with optional fractions of a second and a
  // "+hh:mm"/"-hh:mm" offset in place of "Z"; nullopt when malformed.
  static std::optional<int64_t> ParseDateTime(std::string_view text);

  friend bool operator==(const ExternalService&, const ExternalService&) = default;
};

}  // namespace vexalo
