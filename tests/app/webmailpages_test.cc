#include "app/webmailpages.h"

#include <gtest/gtest.h>

namespace vexalo {
namespace {

TEST(WebMailPagesTest, PagesFollowTheAccountsDomain) {
  ServiceProfile profile = ServiceProfile::Defaults();
  profile.webmail_host = "mail.example.com";
  struct Case {
    const char* account;
    WebMailPages::AccountKind kind;
    const char* base;
  } cases[] = {
      {"alice@lettrio.com/desk", WebMailPages::AccountKind::kWebMail,
       "https://mail.example.com/mail"},
      {"alice@postalia.com", WebMailPages::AccountKind::kWebMail, "https://mail.example.com/mail"},
      {"bob@company.example", WebMailPages::AccountKind::kHosted,
       "https://mail.example.com/hosted/company.example"},
      {"", WebMailPages::AccountKind::kNotConnected, ""},
  };
  for (const Case& c : cases) {
    const WebMailPages pages(profile, XmppAddress(c.account));
    EXPECT_EQ(pages.kind(), c.kind) << c.account;
    EXPECT_EQ(pages.Base(), c.base) << c.account;
  }
  const WebMailPages pages(profile, XmppAddress("alice@lettrio.com"));
  EXPECT_EQ(pages.ThreadAddress(0x1234abcd5678LL),
            "https://mail.example.com/"
            "mail?view=cv&search=inbox&th=1234abcd5678&lvp=-1&cvp=9&qt=&fs=1&tf=1");
  EXPECT_EQ(WebMailPages(profile, XmppAddress()).ThreadAddress(1), "");
}

}  // namespace
}  // namespace vexalo
