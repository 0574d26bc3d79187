#include "p2p/client/candidateelement.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "base/runtime/logging.h"

namespace vexalo {

namespace {

const XmlName kAttrName("", "name");
const XmlName kAttrAddress("", "address");
const XmlName kAttrPort("", "port");
const XmlName kAttrUsername("", "username");
const XmlName kAttrPassword("", "password");
const XmlName kAttrPreference("", "preference");
const XmlName kAttrProtocol("", "protocol");
const XmlName kAttrType("", "type");
const XmlName kAttrNetwork("", "network");
const XmlName kAttrGeneration("", "generation");

// A number filling the whole text.
template <typename T>
bool ParseWhole(std::string_view text, T* value) {
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && stop == end && !text.empty();
}

bool IsPrivate(uint32_t ip) {
  return (ip >> 24) == 10 || (ip >> 20) == 0xAC1 || (ip >> 16) == 0xC0A8 || (ip >> 24) == 127;
}

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

bool Refuse(const char* reason, std::string* error) {
  LOG(kError) << reason;
  if (error) *error = reason;
  return false;
}

}  // namespace

bool CandidateElement::Parse(const XmlElem& element, Candidate* out, std::string* error) {
  for (const XmlName* required : {&kAttrName, &kAttrAddress, &kAttrPort, &kAttrUsername,
                                  &kAttrPreference, &kAttrProtocol, &kAttrGeneration}) {
    if (!element.HasAttribute(*required)) {
      return Refuse("Candidate missing required attribute", error);
    }
  }
  uint32_t ip = 0;
  if (!SocketAddress::StringToIP(element.GetAttribute(kAttrAddress), &ip)) ip = 0;
  if (ip == 0) return Refuse("Candidate has address 0", error);
  // Ports outside 1-65535 never reach the rules below as a wrapped-around number.
  uint16_t port = 0;
  if (!ParseWhole(element.GetAttribute(kAttrPort), &port) || port == 0) {
    return Refuse("Candidate has bad port", error);
  }
  if ((ip >> 24) == 127) return Refuse("Candidate has local IP address", error);
  if (port < 1024 && port != 80 && port != 443) {
    return Refuse("Candidate has port below 1024, not 80 or 443", error);
  }
  if ((port == 80 || port == 443) && IsPrivate(ip)) {
    return Refuse("Candidate has port of 80 or 443 with private IP address", error);
  }
  // A NaN or infinite preference would break the ordering of connections.
  float preference = 0;
  if (!ParseWhole(element.GetAttribute(kAttrPreference), &preference) ||
      !std::isfinite(preference)) {
    return Refuse("Candidate has bad preference", error);
  }
  uint32_t generation = 0;
  if (!ParseWhole(element.GetAttribute(kAttrGeneration), &generation)) {
    return Refuse("Candidate has bad generation", error);
  }
  const std::string& username = element.GetAttribute(kAttrUsername);
  if (username.size() > kMaxUsernameLength) {
    return Refuse("Candidate username is too long", error);
  }
  for (char c : username) {
    if (!IsBase64Char(c)) return Refuse("Candidate username has non-base64 encoded characters", error);
  }
  Candidate candidate;
  candidate.name = element.GetAttribute(kAttrName);
  candidate.address = SocketAddress(ip, port);
  candidate.username = username;
  candidate.preference = preference;
  candidate.protocol = element.GetAttribute(kAttrProtocol);
  candidate.generation = generation;
  candidate.password = element.GetAttribute(kAttrPassword);
  candidate.type = element.GetAttribute(kAttrType);
  candidate.network_name = element.GetAttribute(kAttrNetwork);
  *out = std::move(candidate);
  return true;
}

std::unique_ptr<XmlElem> CandidateElement::Write(const Candidate& candidate, const XmlName& name) {
  auto element = std::make_unique<XmlElem>(name);
  element->AppendAttribute(kAttrName, candidate.name);
  element->AppendAttribute(kAttrAddress, candidate.address.IPAsString());
  element->AppendAttribute(kAttrPort, candidate.address.PortAsString());
  element->AppendAttribute(kAttrUsername, candidate.username);
  element->AppendAttribute(kAttrPassword, candidate.password);
  element->AppendAttribute(kAttrPreference, FormatPreference(candidate.preference));
  element->AppendAttribute(kAttrProtocol, candidate.protocol);
  element->AppendAttribute(kAttrType, candidate.type);
  element->AppendAttribute(kAttrNetwork, candidate.network_name);
  element->AppendAttribute(kAttrGeneration, std::to_string(candidate.generation));
  return element;
}

std::string CandidateElement::FormatPreference(float preference) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof(text), preference, std::chars_format::general, 6);
  if (ec != std::errc()) return "0";
  return std::string(text, end);
}

}  // namespace vexalo
