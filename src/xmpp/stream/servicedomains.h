#pragma once

#include <string>
#include <string_view>

namespace vexalo {

// The service's own domains as this process knows them: the built-in defaults, or what the
// application's service profile set at start-up (tests point them elsewhere).
struct ServiceDomains {
  // Accounts of the service itself.
  std::string account_domain;
  // XMPP host to connect to when nothing better is known; may bind accounts of any domain.
  std::string fallback_host;
};

const ServiceDomains& CurrentServiceDomains();
// Called once at start-up, before any connection exists.
void SetServiceDomains(const ServiceDomains& domains);

bool IsServiceAccountDomain(std::string_view domain);

}  // namespace vexalo
