#include "xmpp/stream/servicedomains.h"

#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

ServiceDomains& Domains() {
  static ServiceDomains domains{std::string(kDefaultDomain), std::string(kFallbackXmppHost)};
  return domains;
}

}  // namespace

const ServiceDomains& CurrentServiceDomains() { return Domains(); }

void SetServiceDomains(const ServiceDomains& domains) { Domains() = domains; }

bool IsServiceAccountDomain(std::string_view domain) {
  return domain == Domains().account_domain;
}

}  // namespace vexalo
