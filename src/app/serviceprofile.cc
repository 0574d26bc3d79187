#include "app/serviceprofile.h"

#include <charconv>
#include <cstdlib>

#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

struct Field {
  const char* name;
  std::string ServiceProfile::*text;
  uint16_t ServiceProfile::*port;
};

constexpr Field kFields[] = {
    {"account_domain", &ServiceProfile::account_domain, nullptr},
    {"webmail_domain", &ServiceProfile::webmail_domain, nullptr},
    {"webmail_alt_domain", &ServiceProfile::webmail_alt_domain, nullptr},
    {"xmpp_host", &ServiceProfile::xmpp_host, nullptr},
    {"xmpp_port", nullptr, &ServiceProfile::xmpp_port},
    {"ssltcp_port", nullptr, &ServiceProfile::ssltcp_port},
    {"account_host", &ServiceProfile::account_host, nullptr},
    {"web_host", &ServiceProfile::web_host, nullptr},
    {"stun_host", &ServiceProfile::stun_host, nullptr},
    {"relay_host", &ServiceProfile::relay_host, nullptr},
    {"relay_scheme", &ServiceProfile::relay_scheme, nullptr},
    {"relay_port", nullptr, &ServiceProfile::relay_port},
    {"update_host", &ServiceProfile::update_host, nullptr},
    {"report_host", &ServiceProfile::report_host, nullptr},
};

bool IsHostText(std::string_view text) {
  if (text.empty() || text.size() > 253) return false;
  for (char c : text) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_' || c == ':';
    if (!ok) return false;
  }
  return true;
}

std::string EnvironmentName(const char* name) {
  std::string env = "VEXALO_SERVICE_";
  for (const char* p = name; *p != '\0'; ++p) {
    env += static_cast<char>(*p >= 'a' && *p <= 'z' ? *p - 'a' + 'A' : *p);
  }
  return env;
}

}  // namespace

ServiceProfile ServiceProfile::Defaults() {
  ServiceProfile profile;
  profile.account_domain = kDefaultDomain;
  profile.webmail_domain = kWebMailDomain;
  profile.webmail_alt_domain = kWebMailAlternativeDomain;
  profile.xmpp_host = kFallbackXmppHost;
  profile.account_host = "www.lettrio.com";
  profile.web_host = "www.ombrix.com";
  profile.stun_host = "stun.ombrix.com";
  profile.relay_host = "relay.ombrix.com";
  profile.update_host = "update.ombrix.com";
  profile.report_host = "reports.ombrix.com";
  return profile;
}

bool ServiceProfile::Set(std::string_view name, std::string_view value) {
  for (const Field& field : kFields) {
    if (name != field.name) continue;
    if (field.port != nullptr) {
      unsigned port = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (error != std::errc() || end != value.data() + value.size() || port == 0 ||
          port > 65535) {
        return false;
      }
      this->*field.port = static_cast<uint16_t>(port);
      return true;
    }
    if (!IsHostText(value)) return false;
    if (field.text == &ServiceProfile::relay_scheme && value != "http" && value != "https") {
      return false;
    }
    this->*field.text = std::string(value);
    return true;
  }
  return false;
}

std::vector<std::string> ServiceProfile::Names() {
  std::vector<std::string> names;
  for (const Field& field : kFields) names.emplace_back(field.name);
  return names;
}

ServiceProfile ServiceProfile::FromEnvironment(const std::vector<std::string>& overrides,
                                               std::vector<std::string>* errors) {
  ServiceProfile profile = Defaults();
  for (const Field& field : kFields) {
    const std::string env = EnvironmentName(field.name);
    const char* value = std::getenv(env.c_str());
    if (value == nullptr || *value == '\0') continue;
    if (!profile.Set(field.name, value) && errors != nullptr) {
      errors->push_back(env + ": not a valid value");
    }
  }
  for (const std::string& entry : overrides) {
    const size_t equals = entry.find('=');
    if (equals == std::string::npos ||
        !profile.Set(std::string_view(entry).substr(0, equals),
                     std::string_view(entry).substr(equals + 1))) {
      if (errors != nullptr) errors->push_back("--service " + entry + ": not a NAME=VALUE setting");
    }
  }
  return profile;
}

}  // namespace vexalo
