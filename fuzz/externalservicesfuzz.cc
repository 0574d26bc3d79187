// Parses arbitrary text as an external service list and as a date-time. Nothing may crash,
// and whatever comes out must have passed the checks: a bounded list, valid host names,
// credentials of bounded printable text.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "xml/xmlelem.h"
#include "xmpp/server/externalservice.h"
#include "xmpp/server/relayinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vexalo::ExternalService;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ExternalService::ParseDateTime(text);
  std::unique_ptr<vexalo::XmlElem> list = vexalo::XmlElem::ParseFromString(text);
  if (list == nullptr) return 0;
  const auto services = ExternalService::ParseList(*list);
  if (services.size() > ExternalService::kMaxServices) abort();
  for (const ExternalService& service : services) {
    if (!vexalo::RelayInfo::IsValidHostName(service.host) || service.type.empty() ||
        service.username.size() > ExternalService::kMaxCredentialLength ||
        service.password.size() > ExternalService::kMaxCredentialLength) {
      abort();
    }
    for (char c : service.username + service.password) {
      if (c < ' ' || c > '~') abort();
    }
  }
  return 0;
}
