#include "xmpp/stream/xmppaddress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

namespace vexalo {
namespace {

std::string Labels(int count, int length) {
  std::string domain;
  for (int i = 0; i < count; ++i) {
    if (i > 0) domain += '.';
    domain += std::string(static_cast<size_t>(length), 'a');
  }
  return domain;
}

TEST(XmppAddressTest, ValidAddressesParseAndPrepare) {
  struct Case {
    std::string text;
    std::string node;
    std::string domain;
    std::string resource;
    std::string printed;
  } cases[] = {
      {"UsEr@DoMain/Home", "user", "domain", "Home", "user@domain/Home"},
      {"a/b@c", "", "a", "b@c", "a/b@c"},
      {"d", "", "d", "", "d"},
      {"u@d/r/x@y", "u", "d", "r/x@y", "u@d/r/x@y"},
      {"u@127.0.0.1", "u", "127.0.0.1", "", "u@127.0.0.1"},
      {"\xC3\x9C@d\xC3\xA9.example", "\xC3\x9C", "d\xC3\xA9.example", "", ""},
      {"u@Ab-C.Example.COM", "u", "ab-c.example.com", "", "u@ab-c.example.com"},
      {"u@d/\xE2\x98\xBA Res", "u", "d", "\xE2\x98\xBA Res", ""},
      {"a!#$%()*+,;=?[\\]^_`{|}~@d", "a!#$%()*+,;=?[\\]^_`{|}~", "d", "", ""},
      {"u@" + std::string(63, 'a') + ".b", "u", std::string(63, 'a') + ".b", "", ""},
      {std::string(1023, 'n') + "@d", std::string(1023, 'n'), "d", "", ""},
      {"u@" + Labels(16, 63), "u", Labels(16, 63), "", ""},  // 1023 bytes
      {"u@d/" + std::string(1023, 'r'), "u", "d", std::string(1023, 'r'), ""},
  };
  for (const Case& c : cases) {
    XmppAddress address(c.text);
    ASSERT_TRUE(address.IsValid()) << c.text;
    EXPECT_EQ(address.NodePart(), c.node) << c.text;
    EXPECT_EQ(address.DomainPart(), c.domain) << c.text;
    EXPECT_EQ(address.ResourcePart(), c.resource) << c.text;
    EXPECT_EQ(address.IsBareAddress(), c.resource.empty()) << c.text;
    EXPECT_EQ(address.HasResource(), !c.resource.empty()) << c.text;
    if (!c.printed.empty()) {
      EXPECT_EQ(address.ToString(), c.printed) << c.text;
    }
    // What prints parses back to the same address.
    EXPECT_EQ(XmppAddress(address.ToString()), address) << c.text;
  }
}

TEST(XmppAddressTest, InvalidAddresses) {
  const std::string cases[] = {
      "",
      "u@",
      "/r",
      "u@/r",
      // A separator promises a part: an empty local part or resource is no address.
      "@d",
      "@d/r",
      "u@d/",
      "d/",
      "u@a_b",
      "u@-a.b",
      "u@a-.b",
      "u@a..b",
      "u@a.b.",
      "u@.a",
      "u@a b",
      "u@a:5222",
      "u@[::1]",
      "a@b@c",
      "u@" + std::string(64, 'a'),
      "u@" + Labels(16, 63) + "a",  // 1024 bytes
      std::string(1024, 'n') + "@d",
      "u@d/" + std::string(1024, 'r'),
      "u v@d",
      "a:b@d",
      "a'b@d",
      "a\"b@d",
      "a&b@d",
      "a<b@d",
      "a>b@d",
      std::string("a\0b@d", 5),
      "\x17@d",
      "\x1F@d",  // control characters cannot travel in XML
      "u\x7F@d",
      "u@d/r\x01",
      "u@d/r\x1F",
      "u@d/r\x7F",
      "u@d/\t",
  };
  for (const std::string& text : cases) {
    XmppAddress address(text);
    EXPECT_FALSE(address.IsValid()) << text;
    EXPECT_FALSE(address.IsBareAddress()) << text;
    EXPECT_FALSE(address.HasResource()) << text;
    EXPECT_EQ(address.ToString(), "") << text;
    EXPECT_EQ(address.DomainPart(), "") << text;
    EXPECT_EQ(address, kEmptyAddress) << text;
  }
}

TEST(XmppAddressTest, PartsArePreparedSeparately) {
  struct Case {
    const char* node;
    const char* domain;
    const char* resource;
    const char* printed;  // empty: invalid
  } cases[] = {
      {"User", "Example.COM", "Res", "user@example.com/Res"},
      {"", "d", "", "d"},
      {"", "", "", ""},
      {"a@b", "d", "", ""},
      {"a/b", "d", "", ""},
      {"u", "d/e", "", ""},
      {"u", "d", "a/b@c", "u@d/a/b@c"},  // a resource may hold anything printable
      {"u", "d", "r\n", ""},
  };
  for (const Case& c : cases) {
    XmppAddress address(c.node, c.domain, c.resource);
    EXPECT_EQ(address.IsValid(), c.printed[0] != '\0') << c.node << "|" << c.domain;
    EXPECT_EQ(address.ToString(), c.printed) << c.node << "|" << c.domain;
  }
}

TEST(XmppAddressTest, EqualitySameAccountAndOrder) {
  struct Case {
    const char* left;
    const char* right;
    bool equal;
    bool same_account;
    int order;
  } cases[] = {
      {"u@d/r1", "u@d/r2", false, true, -1},
      {"U@D/r", "u@d/r", true, true, 0},
      {"u@d/R", "u@d/r", false, true, -1},  // resources keep their case
      {"u@d", "u@d/r", false, true, -1},
      {"a@z", "b@a", false, false, -1},  // node before domain
      {"d", "a@c", false, false, -1},    // the empty node sorts first
      {"u@a", "u@b", false, false, -1},
      {"", "u@d", false, false, -1},  // the invalid address sorts first
      {"", "u@", true, true, 0},      // two invalid addresses
  };
  for (const Case& c : cases) {
    XmppAddress left(c.left);
    XmppAddress right(c.right);
    EXPECT_EQ(left == right, c.equal) << c.left << " " << c.right;
    EXPECT_EQ(right == left, c.equal) << c.left << " " << c.right;
    EXPECT_EQ(left.SameAccount(right), c.same_account) << c.left << " " << c.right;
    EXPECT_EQ(right.SameAccount(left), c.same_account) << c.left << " " << c.right;
    EXPECT_EQ(left.Compare(right), c.order) << c.left << " " << c.right;
    EXPECT_EQ(right.Compare(left), -c.order) << c.left << " " << c.right;
    if (c.equal) {
      EXPECT_EQ(left.Hash(), right.Hash()) << c.left;
    }
  }
  XmppAddress a("u@d/r");
  XmppAddress copy = a;
  EXPECT_EQ(copy.Compare(a), 0);
  EXPECT_TRUE(copy.SameAccount(a));
}

TEST(XmppAddressTest, SortsAndHashesAsAKey) {
  std::vector<XmppAddress> addresses = {XmppAddress("b@d"), XmppAddress("a@d/r"), XmppAddress("x"),
                                        XmppAddress(""), XmppAddress("a@d")};
  std::sort(addresses.begin(), addresses.end());
  std::vector<std::string> printed;
  for (const XmppAddress& a : addresses) printed.push_back(a.ToString());
  EXPECT_EQ(printed, (std::vector<std::string>{"", "x", "a@d", "a@d/r", "b@d"}));

  std::unordered_set<XmppAddress> set = {XmppAddress("U@D/r"), XmppAddress("u@d/r"),
                                         XmppAddress("u@d")};
  EXPECT_EQ(set.size(), 2u);
}

TEST(XmppAddressTest, WithoutResource) {
  XmppAddress full("U@d/Home");
  XmppAddress bare = full.WithoutResource();
  EXPECT_EQ(bare.ToString(), "u@d");
  EXPECT_TRUE(bare.IsBareAddress());
  EXPECT_TRUE(bare.SameAccount(full));
  EXPECT_EQ(full.ToString(), "u@d/Home");  // the original is untouched
  EXPECT_EQ(bare.WithoutResource(), bare);
  EXPECT_FALSE(kEmptyAddress.WithoutResource().IsValid());
}

}  // namespace
}  // namespace vexalo
