#include "app/webmailpages.h"

#include <cstdio>

namespace vexalo {

WebMailPages::WebMailPages(const ServiceProfile& profile, const XmppAddress& account)
    : host_(profile.webmail_host),
      domain_(account.IsValid() ? account.DomainPart() : std::string()) {
  if (domain_.empty()) {
    kind_ = AccountKind::kNotConnected;
  } else if (profile.IsWebMailDomain(domain_)) {
    kind_ = AccountKind::kWebMail;
  } else {
    kind_ = AccountKind::kHosted;
  }
}

std::string WebMailPages::Base() const {
  if (kind_ == AccountKind::kNotConnected) return {};
  if (kind_ == AccountKind::kWebMail) return "https://" + host_ + "/mail";
  // A JID domain may hold characters that mean something in a URL: they are escaped.
  std::string path = "/hosted/";
  for (unsigned char c : domain_) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-') {
      path += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
      path += escaped;
    }
  }
  return "https://" + host_ + path;
}

std::string WebMailPages::ThreadAddress(int64_t thread_id) const {
  if (kind_ == AccountKind::kNotConnected) return {};
  char query[96];
  std::snprintf(query, sizeof(query), "?view=cv&search=inbox&th=%llx&lvp=-1&cvp=9&qt=&fs=1&tf=1",
                static_cast<unsigned long long>(thread_id));
  return Base() + query;
}

}  // namespace vexalo
