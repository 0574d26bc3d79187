// STUN and relay information: parsing with its checks, requests and server pushes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xmpp/stream/constants.h"
#include "xmpp/server/relayinfo.h"
#include "xmpp/server/relayinfotask.h"
#include "base/runtime/loopthread.h"  // used by SignedInConnection::Pump
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

RelayInfo ParseText(const std::string& inner) {
  std::unique_ptr<XmlElem> query =
      XmlElem::ParseFromString("<query xmlns='ombrix:relayinfo'>" + inner + "</query>");
  EXPECT_NE(query, nullptr) << inner;
  return query ? RelayInfo::Parse(*query) : RelayInfo();
}

std::vector<std::string> Stun(const RelayInfo& info) {
  std::vector<std::string> out;
  for (const SocketAddress& a : info.stun_servers) out.push_back(a.hostname() + ":" + a.PortAsString());
  return out;
}

TEST(RelayInfoTest, ParsesStunServersRelayHostsAndToken) {
  RelayInfo info = ParseText(
      "<stun><server host='stun.example.net' udp='3478'/><server host='192.0.2.7' udp='3479'/></stun>"
      "<relay><token>tok-123/abc=</token><server host='relay1.example.net' udp='3480' tcp='3481'/>"
      "<server host='relay2.example.net'/></relay>");
  EXPECT_EQ(Stun(info), (std::vector<std::string>{"stun.example.net:3478", "192.0.2.7:3479"}));
  EXPECT_EQ(info.stun_servers[1].ip(), 0xC0000207u);
  EXPECT_EQ(info.token, "tok-123/abc=");
  EXPECT_EQ(info.relay_hosts, (std::vector<std::string>{"relay1.example.net", "relay2.example.net"}));
}

TEST(RelayInfoTest, MissingPartsGiveEmptyFields) {
  RelayInfo info = ParseText("");
  EXPECT_TRUE(info.stun_servers.empty());
  EXPECT_TRUE(info.relay_hosts.empty());
  EXPECT_EQ(info.token, "");
  info = ParseText("<relay><token>t</token></relay>");
  EXPECT_EQ(info.token, "t");
  EXPECT_TRUE(info.relay_hosts.empty());
}

TEST(RelayInfoTest, StunEntriesWithBadOrMissingFieldsAreSkipped) {
  struct Case {
    const char* server;
    bool used;
  } cases[] = {
      {"<server host='s.example' udp='3478'/>", true},
      {"<server host='s.example' udp='1'/>", true},
      {"<server host='s.example' udp='65535'/>", true},
      {"<server host='s.example'/>", false},
      {"<server udp='3478'/>", false},
      {"<server host='' udp='3478'/>", false},
      {"<server host='s.example' udp=''/>", false},
      {"<server host='s.example' udp='0'/>", false},
      {"<server host='s.example' udp='65536'/>", false},
      {"<server host='s.example' udp='99999999999999999999'/>", false},
      {"<server host='s.example' udp='-1'/>", false},
      {"<server host='s.example' udp='+3478'/>", false},
      {"<server host='s.example' udp='3478x'/>", false},
      {"<server host='s.example' udp=' 3478'/>", false},
      {"<server host='s example' udp='3478'/>", false},
      {"<server host='s.example:80' udp='3478'/>", false},
      {"<server host='s..example' udp='3478'/>", false},
      {"<server host='-s.example' udp='3478'/>", false},
      {"<server host='s.exa&#x0A;mple' udp='3478'/>", false},
      {"<server host='ex&#xE4;mple.net' udp='3478'/>", false},
  };
  for (const Case& c : cases) {
    RelayInfo info = ParseText(std::string("<stun>") + c.server + "</stun>");
    EXPECT_EQ(info.stun_servers.size(), c.used ? 1u : 0u) << c.server;
  }
  EXPECT_EQ(Stun(ParseText("<stun><server host='s.example' udp='3478'/></stun>")),
            std::vector<std::string>{"s.example:3478"});
}

TEST(RelayInfoTest, HostNamesTokensAndListsAreBounded) {
  const std::string label(63, 'a');
  EXPECT_TRUE(RelayInfo::IsValidHostName(label + ".example"));
  EXPECT_FALSE(RelayInfo::IsValidHostName(label + "a.example"));
  std::string long_name;
  while (long_name.size() < 260) long_name += "abcdefghi.";
  EXPECT_FALSE(RelayInfo::IsValidHostName(long_name));
  EXPECT_TRUE(RelayInfo::IsValidHostName("relay.example.net."));

  RelayInfo info = ParseText("<relay><token>" + std::string(RelayInfo::kMaxTokenLength + 1, 'x') +
                             "</token><server host='bad host'/><server host=''/>"
                             "<server host='good.example'/></relay>");
  EXPECT_EQ(info.token, "");
  EXPECT_EQ(info.relay_hosts, std::vector<std::string>{"good.example"});
  for (const char* token : {"has space", "line\r\nX-Injected: 1", "tab\t"}) {
    EXPECT_FALSE(RelayInfo::IsValidToken(token)) << token;
  }

  std::string many = "<stun>";
  for (int i = 0; i < 100; ++i) many += "<server host='s" + std::to_string(i) + ".example' udp='3478'/>";
  many += "</stun><relay>";
  for (int i = 0; i < 100; ++i) many += "<server host='r" + std::to_string(i) + ".example'/>";
  info = ParseText(many + "</relay>");
  EXPECT_EQ(info.stun_servers.size(), RelayInfo::kMaxServers);
  EXPECT_EQ(info.relay_hosts.size(), RelayInfo::kMaxServers);
  EXPECT_EQ(info.relay_hosts.front(), "r0.example");
}

class RelayInfoTaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    task_ = new RelayInfoTask(session_.connection());
    task_->SignalRelayInfo.Connect(&host_, [this](const std::string& token,
                                                  const std::vector<std::string>& relays,
                                                  const std::vector<SocketAddress>& stun) {
      reports_.push_back(token + "|" + std::to_string(relays.size()) + "|" + std::to_string(stun.size()));
    });
    task_->Start();
  }
  SignedInConnection session_;
  RelayInfoTask* task_ = nullptr;
  SlotHost host_;
  std::vector<std::string> reports_;
};

TEST_F(RelayInfoTaskTest, RequestGoesToOurServerAndOnlyItsAnswerIsTaken) {
  task_->Request();
  session_.Pump();
  EXPECT_EQ(session_.TakeSent(), "<iq type=\"get\" id=\"3\"><query xmlns=\"ombrix:relayinfo\"/></iq>");
  const std::string body = "><query xmlns='ombrix:relayinfo'><relay><token>T</token>"
                           "<server host='r.example'/></relay></query></iq>";
  session_.ServerSends("<iq type='result' id='3' from='mallory@example.net/x'" + body);
  session_.ServerSends("<iq type='result' id='3' from='alice@example.net/desk'" + body);
  EXPECT_TRUE(reports_.empty());
  session_.ServerSends("<iq type='result' id='3' from='example.net'" + body);
  EXPECT_EQ(reports_, std::vector<std::string>{"T|1|0"});
}

TEST_F(RelayInfoTaskTest, ErrorAnswersAreNotReported) {
  task_->Request();
  session_.TakeSent();
  session_.ServerSends("<iq type='error' id='3'><error type='cancel'><service-unavailable "
                       "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  EXPECT_TRUE(reports_.empty());
  EXPECT_EQ(session_.TakeSent(), "");
  // The request task is gone; asking again works.
  task_->Request();
  EXPECT_EQ(session_.TakeSent(), "<iq type=\"get\" id=\"4\"><query xmlns=\"ombrix:relayinfo\"/></iq>");
}

TEST_F(RelayInfoTaskTest, PushesFromOurServerAreReportedWithoutAcknowledgement) {
  const std::string body = " id='p'><query xmlns='ombrix:relayinfo'><relay><token>NEW</token></relay>"
                           "<stun><server host='s.example' udp='3478'/></stun></query></iq>";
  session_.ServerSends("<iq type='set'" + body);
  session_.ServerSends("<iq type='set' from='example.net'" + body);
  session_.ServerSends("<iq type='set' from='alice@example.net'" + body);
  EXPECT_EQ(session_.TakeSent(), "");
  EXPECT_EQ(reports_, (std::vector<std::string>{"NEW|0|1", "NEW|0|1", "NEW|0|1"}));
  // A contact cannot hand us relays: the push is refused by the engine.
  session_.ServerSends("<iq type='set' from='mallory@evil.example/x'" + body);
  EXPECT_EQ(reports_.size(), 3u);
  EXPECT_NE(session_.TakeSent().find("type=\"error\""), std::string::npos);
}

}  // namespace
}  // namespace vexalo
