#include "app/serveroverride.h"

#include <gtest/gtest.h>

namespace vexalo {
namespace {

TEST(ServerOverrideTest, ParsesHostAndOptionalPort) {
  const struct {
    const char* text;
    bool ok;
    const char* host;
    uint16_t port;
  } cases[] = {
      {"xmpp.example.org", true, "xmpp.example.org", 0},
      {"127.0.0.1:5222", true, "127.0.0.1", 5222},
      {"h:65535", true, "h", 65535},
      {"h:0", false, "", 0},
      {"h:65536", false, "", 0},
      {"h:52x", false, "", 0},
      {"h:", false, "", 0},
      {":5222", false, "", 0},
      {"", false, "", 0},
      {"h:99999999999999999999", false, "", 0},
  };
  for (const auto& c : cases) {
    ServerOverride parsed{"before", 1};
    EXPECT_EQ(ServerOverride::Parse(c.text, &parsed), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(parsed.host, c.host) << c.text;
      EXPECT_EQ(parsed.port, c.port) << c.text;
    } else {
      EXPECT_EQ(parsed.host, "before") << "left as it was: " << c.text;
    }
  }
}

}  // namespace
}  // namespace vexalo
