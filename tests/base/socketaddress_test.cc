#include "base/net/socketaddress.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <unordered_set>

#include "base/runtime/logging.h"
#include "base/proxy/proxysettings.h"
#include "base/runtime/secrettext.h"

namespace vexalo {
namespace {

TEST(SocketAddressTest, NumericNameResolvesWithoutDnsOrLogAndPrintsAsGiven) {
  std::vector<std::string> lines;
  SetLogConsoleSink([&](std::string_view line) { lines.emplace_back(line); });
  LogToDebug(kSensitive);
  SocketAddress address("10.1.2.3", 5222, true);
  ResetLogging();
  EXPECT_EQ(address.ip(), 0x0A010203u);
  EXPECT_FALSE(address.IsUnresolved());
  EXPECT_EQ(address.ToString(), "10.1.2.3:5222");
  EXPECT_TRUE(lines.empty());
}

TEST(SocketAddressTest, NameKeepsPrintingAfterResolutionUntilANumberReplacesIt) {
  SocketAddress address("localhost", 80, false);
  EXPECT_TRUE(address.IsUnresolved());
  EXPECT_EQ(address.ToString(), "localhost:80");
  ASSERT_TRUE(address.Resolve(false, true));
  EXPECT_TRUE(address.IsLoopbackIP());
  EXPECT_EQ(address.ToString(), "localhost:80");
  address.SetIP(0xC0A80001u);
  EXPECT_EQ(address.ToString(), "192.168.0.1:80");
  EXPECT_TRUE(address.hostname().empty());
}

TEST(SocketAddressTest, ResolveWithoutForceKeepsAnExistingIp) {
  SocketAddress address("localhost", 1, false);
  address.SetResolvedIP(0x01020304u);
  EXPECT_TRUE(address.Resolve(false, false));  // no lookup, even though DNS is not allowed
  EXPECT_EQ(address.ip(), 0x01020304u);
  EXPECT_FALSE(address.Resolve(true, false));  // forced, but a name needs DNS
  EXPECT_EQ(address.ip(), 0x01020304u);
}

TEST(SocketAddressTest, PrivateAndLoopbackRanges) {
  struct Case {
    const char* ip;
    bool is_private;
    bool loopback;
  } cases[] = {{"172.31.255.255", true, false}, {"172.32.0.0", false, false},
               {"172.15.255.255", false, false}, {"127.0.0.1", true, true},
               {"10.0.0.1", true, false},        {"192.168.255.1", true, false},
               {"192.169.0.1", false, false},    {"8.8.8.8", false, false}};
  for (const Case& c : cases) {
    SocketAddress address(c.ip, 0, false);
    EXPECT_EQ(address.IsPrivateIP(), c.is_private) << c.ip;
    EXPECT_EQ(address.IsLoopbackIP(), c.loopback) << c.ip;
  }
}

TEST(SocketAddressTest, EqualityAndOrderingOfResolvedAndUnresolvedAddresses) {
  SocketAddress a1("alpha.example", 5222, false), a2("alpha.example", 5222, false);
  SocketAddress b("beta.example", 1, false);
  EXPECT_EQ(a1, a2);
  EXPECT_NE(a1, b);
  EXPECT_TRUE(a1 < b);  // both unresolved: by name before port
  SocketAddress n1(0x01010101u, 9), n2(0x01010101u, 10), n3(0x02000000u, 1);
  EXPECT_TRUE(n1 < n2);
  EXPECT_TRUE(n2 < n3);
  EXPECT_TRUE(a1 < n1);  // unresolved (ip 0) first
  // Resolved addresses compare by number, whatever names they came from.
  SocketAddress named("gamma.example", 9, false);
  named.SetResolvedIP(0x01010101u);
  EXPECT_EQ(named, n1);
  std::unordered_set<SocketAddress> set{a1, a2, b, n1, named};
  EXPECT_EQ(set.size(), 3u);
  std::set<SocketAddress> sorted{a1, a2, b, n1, named, n2};
  EXPECT_EQ(sorted.size(), 4u);
}

TEST(SocketAddressTest, TextFormsAndParsing) {
  EXPECT_EQ(SocketAddress::IPToString(0x7F000001u), "127.0.0.1");
  EXPECT_EQ(SocketAddress::IPToString(0), "0.0.0.0");
  uint32_t ip = 0;
  EXPECT_TRUE(SocketAddress::StringToIP("1.2.3.4", &ip));
  EXPECT_EQ(ip, 0x01020304u);
  for (const char* bad : {"255.255.255.255", "1.2.3", "1.2.3.4.5", "host", "", "1.2.3.256"}) {
    EXPECT_FALSE(SocketAddress::StringToIP(bad, &ip)) << bad;
  }
  SocketAddress parsed;
  ASSERT_TRUE(SocketAddress::FromString("127.0.0.1:5222", &parsed));
  EXPECT_EQ(parsed, SocketAddress(0x7F000001u, 5222));
  ASSERT_TRUE(SocketAddress::FromString("talk.example:443", &parsed));
  EXPECT_TRUE(parsed.IsUnresolved());
  EXPECT_EQ(parsed.port(), 443);
  for (const char* bad : {"", ":80", "host:", "host:99999", "host:8x", "bad host:1", "a/b:2"}) {
    EXPECT_FALSE(SocketAddress::FromString(bad, &parsed)) << bad;
  }
}

TEST(SocketAddressTest, SockAddrRoundTripDropsTheName) {
  SocketAddress named("localhost", 4000, false);
  named.SetResolvedIP(0x7F000001u);
  sockaddr_in raw;
  named.ToSockAddr(&raw);
  SocketAddress back;
  back.FromSockAddr(raw);
  EXPECT_EQ(back.ToString(), "127.0.0.1:4000");
}

TEST(SocketAddressTest, IPv6LiteralsParsePrintAndCompare) {
  struct Case {
    const char* text;
    bool ok;
    const char* printed;
    bool loopback;
    bool is_private;
  } cases[] = {
      {"[::1]:8080", true, "[::1]:8080", true, true},
      {"[0:0:0:0:0:0:0:1]", true, "[::1]:0", true, true},
      {"[2001:DB8::5]:443", true, "[2001:db8::5]:443", false, false},
      {"[fd12::1]:1", true, "[fd12::1]:1", false, true},
      {"[fe80::1]:1", true, "[fe80::1]:1", false, true},
      {"[::1", false, "", false, false},
      {"[::1]x", false, "", false, false},
      {"[::1]:", false, "", false, false},
      {"[::1]:70000", false, "", false, false},
      {"[zz]:1", false, "", false, false},
      {"[1.2.3.4]:1", false, "", false, false},
      {"[fe80::1%eth0]:1", false, "", false, false},
      {"::1", false, "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SocketAddress parsed;
    ASSERT_EQ(SocketAddress::FromString(c.text, &parsed), c.ok);
    if (!c.ok) continue;
    EXPECT_TRUE(parsed.IsIPv6());
    EXPECT_FALSE(parsed.IsUnresolved());
    EXPECT_EQ(parsed.ip(), 0u);
    EXPECT_EQ(parsed.ToString(), c.printed);
    EXPECT_EQ(parsed.IsLoopbackIP(), c.loopback);
    EXPECT_EQ(parsed.IsPrivateIP(), c.is_private);
    // Through the system's form and back.
    sockaddr_storage raw;
    socklen_t length = parsed.ToSockAddr(&raw);
    EXPECT_EQ(length, sizeof(sockaddr_in6));
    SocketAddress back;
    ASSERT_TRUE(back.FromSockAddr(reinterpret_cast<sockaddr*>(&raw), length));
    EXPECT_EQ(back, parsed);
  }

  // A literal given as a name needs no lookup and keeps its text; it prints bracketed.
  SocketAddress named("::1", 443, false);
  EXPECT_TRUE(named.IsIPv6());
  EXPECT_FALSE(named.IsUnresolved());
  EXPECT_EQ(named.hostname(), "::1");
  EXPECT_EQ(named.IPAsString(), "::1");
  EXPECT_EQ(named.IPAsUriString(), "[::1]");
  EXPECT_EQ(named.ToString(), "[::1]:443");
  SocketAddress v6;
  ASSERT_TRUE(SocketAddress::FromString("[::1]:443", &v6));
  EXPECT_EQ(named, v6);

  // Never equal to an IPv4 address or an unresolved name; IPv4 sorts first.
  SocketAddress v4(0x7F000001u, 443), zero_v4(0u, 443), name("localhost", 443, false);
  EXPECT_NE(v6, v4);
  EXPECT_NE(v6, zero_v4);
  EXPECT_NE(v6, name);
  EXPECT_TRUE(v4 < v6);
  EXPECT_FALSE(v6 < v4);
  std::unordered_set<SocketAddress> set{v6, named, v4, zero_v4};
  EXPECT_EQ(set.size(), 3u);
  // A number replaces the IPv6 address.
  named.SetIP(0x7F000001u);
  EXPECT_FALSE(named.IsIPv6());
  EXPECT_EQ(named.ToString(), "127.0.0.1:443");

  // An IPv4 peer seen through an IPv6 socket is an IPv4 address.
  sockaddr_in6 mapped{};
  mapped.sin6_family = AF_INET6;
  mapped.sin6_port = htons(5222);
  ASSERT_EQ(inet_pton(AF_INET6, "::ffff:10.1.2.3", &mapped.sin6_addr), 1);
  SocketAddress from;
  ASSERT_TRUE(from.FromSockAddr(reinterpret_cast<sockaddr*>(&mapped), sizeof(mapped)));
  EXPECT_FALSE(from.IsIPv6());
  EXPECT_EQ(from.ToString(), "10.1.2.3:5222");
}

TEST(SecretTextTest, CopiesCloneAndClearTextIsScoped) {
  SecretText empty;
  char buffer[8] = "junk";
  EXPECT_EQ(empty.CopyTo(buffer, sizeof(buffer), true), 0u);
  EXPECT_STREQ(buffer, "");

  SecretText secret = SecretText::FromClearText("p@ss w/rd");
  SecretText copy = secret;
  EXPECT_EQ(copy.GetLength(), 9u);
  EXPECT_EQ(copy.UrlEncoded(), "p%40ss%20w%2Frd");
  {
    ScopedClearText clear(copy);
    EXPECT_EQ(std::string(clear.data(), clear.size()), "p@ss w/rd");
  }
  char small[4];
  EXPECT_EQ(secret.CopyTo(small, sizeof(small), true), 3u);
  EXPECT_STREQ(small, "p@s");
}

TEST(ProxySettingsTest, TypeNames) {
  EXPECT_STREQ(ProxyToString(PROXY_NONE), "none");
  EXPECT_STREQ(ProxyToString(PROXY_HTTPS), "https");
  EXPECT_STREQ(ProxyToString(PROXY_SOCKS5), "socks5");
  EXPECT_STREQ(ProxyToString(PROXY_UNKNOWN), "unknown");
}

}  // namespace
}  // namespace vexalo
