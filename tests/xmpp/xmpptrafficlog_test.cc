#include "xmpp/stream/xmpptrafficlog.h"

#include <gtest/gtest.h>

#include <string>

#include "base/runtime/logging.h"

namespace vexalo {
namespace {

struct Captured {
  std::string lines;
  XmppTrafficLog log{[this](std::string_view line) { lines.append(line).append("\n"); },
                     [] { return std::string("T"); }};
};

TEST(XmppTrafficLogTest, IndentsTagsAndWaitsForWholeTags) {
  Captured out;
  const std::string first = "<iq type='result' id='1'><query xmlns='jabber:iq:roster'><item jid='a@b'/></qu";
  out.log.LogInput(first.data(), first.size());
  const std::string second = "ery></iq>";
  out.log.LogInput(second.data(), second.size());
  EXPECT_EQ(out.lines,
            " RECV <<<<<<<<<<<<<<<<<<<<<<<<< : T\n"
            "    <iq type='result' id='1'>\n"
            "      <query xmlns='jabber:iq:roster'>\n"
            "        <item jid='a@b'/>\n"
            " RECV <<<<<<<<<<<<<<<<<<<<<<<<< : T\n"
            "  </query>\n"
            " </iq>\n");
}

TEST(XmppTrafficLogTest, RemovesSecretsAndPersonalText) {
  ResetLogging();
  const struct {
    const char* traffic;
    const char* hidden;
  } cases[] = {
      {"<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='PLAIN'>AGFsaWNlAHB3</auth>",
       "AGFsaWNlAHB3"},
      {"<message type='chat' to='b@c'><active xmlns='http://jabber.org/protocol/chatstates'/>"
       "<body>meet at noon</body></message>",
       "meet at noon"},
      {"<message type='normal'><subject>plans</subject><body>x</body></message>", "plans"},
      {"<presence><show>away</show><status>at the dentist</status></presence>", "dentist"},
      {"<iq type='set'><vCard xmlns='vcard-temp'><PHOTO><TYPE>image/png</TYPE>"
       "<BINVAL>iVBORw0KGgo=</BINVAL></PHOTO></vCard></iq>",
       "iVBORw0KGgo"},
      {"<response xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>c2VjcmV0</response>", "c2VjcmV0"},
      {"<iq type='result'><query xmlns='ombrix:relayinfo'><relay><token>tok-9f3a</token>"
       "</relay></query></iq>",
       "tok-9f3a"},
      {"<iq type='result'><services xmlns='urn:xmpp:extdisco:2'><service type='turn' "
       "host='t.example' username='1765531200:alice' password = \"Zm9vYmFy\"/></services></iq>",
       "Zm9vYmFy"},
      {"<iq type='result'><services xmlns='urn:xmpp:extdisco:2'><service type='turn' "
       "username='1765531200:alice' password='p'/></services></iq>",
       "1765531200:alice"},
  };
  for (const auto& c : cases) {
    Captured out;
    const std::string traffic = c.traffic;
    // Split inside the secret: the removal mark carries over to the next chunk.
    const size_t split = traffic.find(c.hidden) + 2;
    out.log.LogOutput(traffic.data(), split);
    out.log.LogOutput(traffic.data() + split, traffic.size() - split);
    EXPECT_EQ(out.lines.find(c.hidden), std::string::npos) << out.lines;
    EXPECT_NE(out.lines.find(XmppTrafficLog::kRemovedText), std::string::npos) << out.lines;
  }
  // Show values and other text stay readable.
  Captured out;
  const std::string presence = "<presence><show>away</show></presence>";
  out.log.LogInput(presence.data(), presence.size());
  EXPECT_NE(out.lines.find("away"), std::string::npos);
}

TEST(XmppTrafficLogTest, SensitiveLevelShowsBodiesButNeverCredentials) {
  LogToDebug(kSensitive);
  Captured out;
  const std::string traffic =
      "<message type='chat'><body>hello</body></message>"
      "<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='PLAIN'>AGEAYg==</auth>";
  out.log.LogOutput(traffic.data(), traffic.size());
  ResetLogging();
  EXPECT_NE(out.lines.find("hello"), std::string::npos);
  EXPECT_EQ(out.lines.find("AGEAYg=="), std::string::npos);
}

TEST(XmppTrafficLogTest, AnEndlessTagDoesNotGrowWithoutBound) {
  Captured out;
  std::string chunk(64 * 1024, 'a');
  chunk[0] = '<';
  out.log.LogInput(chunk.data(), chunk.size());
  chunk[0] = 'a';
  for (int i = 0; i < 40; ++i) out.log.LogInput(chunk.data(), chunk.size());
  // Logged in bounded pieces, not kept for ever.
  EXPECT_LT(out.lines.size(), 64u * 1024);
  const std::string next = "<presence/>";
  out.log.LogInput(next.data(), next.size());
  EXPECT_NE(out.lines.find("<presence/>"), std::string::npos);
}

}  // namespace
}  // namespace vexalo
