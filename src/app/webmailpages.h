#pragma once

#include <cstdint>
#include <string>

#include "app/serviceprofile.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// The addresses of the web-mail pages for the signed-in account: the inbox, and one mail
// thread announced by the new-mail notice.
class WebMailPages {
 public:
  // How the account relates to web-mail.
  enum class AccountKind { kNotConnected = 0, kWebMail = 2, kHosted = 3 };

  WebMailPages(const ServiceProfile& profile, const XmppAddress& account);

  AccountKind kind() const { return kind_; }
  // "https://HOST/mail" for the service's own mail domains, "https://HOST/hosted/DOMAIN" for
  // any other; empty when not connected.
  std::string Base() const;
  std::string ThreadAddress(int64_t thread_id) const;

 private:
  std::string host_;
  std::string domain_;
  AccountKind kind_;
};

}  // namespace vexalo
