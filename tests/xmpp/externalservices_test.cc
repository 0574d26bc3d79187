// External service discovery (the STUN and TURN services of a standard server): parsing with
// its checks, requests to the own domain, credentials for restricted services, refreshing
// before the credentials expire, and server pushes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/runtime/loopthread.h"  // used by SignedInConnection::Pump
#include "support/signedinconnection.h"
#include "xmpp/server/externalservice.h"
#include "xmpp/server/externalservicestask.h"
#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

std::vector<ExternalService> ParseText(const std::string& inner) {
  std::unique_ptr<XmlElem> list =
      XmlElem::ParseFromString("<services xmlns='urn:xmpp:extdisco:2'>" + inner + "</services>");
  EXPECT_NE(list, nullptr) << inner;
  return list ? ExternalService::ParseList(*list) : std::vector<ExternalService>();
}

TEST(ExternalServiceTest, ReadsWhatProsodyAnnounces) {
  const std::vector<ExternalService> services = ParseText(
      "<service type='stun' transport='udp' host='turn.example.net' port='3478'/>"
      "<service type='turn' transport='udp' host='turn.example.net' port='3478' "
      "username='1765531200:alice' password='c2VjcmV0+/=' expires='2025-12-12T09:20:00Z' "
      "restricted='1'/>");
  ASSERT_EQ(services.size(), 2u);
  EXPECT_EQ(services[0].type, "stun");
  EXPECT_FALSE(services[0].HasCredentials());
  const ExternalService& turn = services[1];
  EXPECT_TRUE(turn.IsTurnOverUdp());
  EXPECT_EQ(turn.host, "turn.example.net");
  EXPECT_EQ(turn.port, 3478);
  EXPECT_EQ(turn.username, "1765531200:alice");
  EXPECT_EQ(turn.password, "c2VjcmV0+/=");
  EXPECT_EQ(turn.expires, 1765531200);
  EXPECT_TRUE(turn.restricted);
}

TEST(ExternalServiceTest, HostileOrBrokenEntriesAreSkipped) {
  struct Case {
    const char* attributes;
    bool used;
  } cases[] = {
      {"type='turn' host='t.example' port='3478'", true},
      {"type='turn' host='192.0.2.1'", true},
      {"type='turn' host='t.example' port='65535' transport='tcp'", true},
      {"type='x-custom' host='t.example'", true},
      {"host='t.example' port='3478'", false},
      {"type='turn'", false},
      {"type='' host='t.example'", false},
      {"type='TURN' host='t.example'", false},
      {"type='turn' host='t.example' port='0'", false},
      {"type='turn' host='t.example' port='65536'", false},
      {"type='turn' host='t.example' port='-1'", false},
      {"type='turn' host='t.example' port='99999999999999999999'", false},
      {"type='turn' host='t.example' port='3478 '", false},
      {"type='turn' host='t.example' transport='sctp'", false},
      {"type='turn' host='t example'", false},
      {"type='turn' host='t.example:3478'", false},
      {"type='turn' host='t.exa&#x0A;mple'", false},
      {"type='turn' host='t.example' username='a&#x0D;&#x0A;b'", false},
      {"type='turn' host='t.example' password='p&#x00E4;ss'", false},
      {"type='turn' host='t.example' expires='tomorrow'", false},
      {"type='turn' host='t.example' expires='2025-13-01T00:00:00Z'", false},
      {"type='turn' host='t.example' expires='2025-12-01T00:00:00'", false},
      {"type='turn' host='t.example' expires='2025-12-01T00:00:00Zjunk'", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseText(std::string("<service ") + c.attributes + "/>").size(), c.used ? 1u : 0u)
        << c.attributes;
  }
  // Credentials longer than any real one, and lists longer than any real one.
  const std::string long_name(ExternalService::kMaxCredentialLength + 1, 'u');
  EXPECT_TRUE(ParseText("<service type='turn' host='t.example' username='" + long_name + "'/>").empty());
  std::string many;
  for (int i = 0; i < 100; ++i) many += "<service type='turn' host='t" + std::to_string(i) + ".example'/>";
  const std::vector<ExternalService> bounded = ParseText(many);
  EXPECT_EQ(bounded.size(), ExternalService::kMaxServices);
  EXPECT_EQ(bounded.front().host, "t0.example");
  // Only service elements in the namespace count.
  EXPECT_TRUE(ParseText("<service xmlns='urn:xmpp:extdisco:1' type='turn' host='t.example'/>").empty());
}

TEST(ExternalServiceTest, DateTimesWithFractionsAndOffsets) {
  struct Case {
    const char* text;
    int64_t expected;  // -1: malformed
  } cases[] = {
      {"1970-01-01T00:00:00Z", 0},
      {"2025-12-12T09:20:00Z", 1765531200},
      {"2025-12-12T09:20:00.123456Z", 1765531200},
      {"2025-12-12T10:20:00+01:00", 1765531200},
      {"2025-12-12T08:20:00-01:00", 1765531200},
      {"2025-12-12T09:20:00.Z", -1},
      {"2025-12-12 09:20:00Z", -1},
      {"2025-12-12T09:20Z", -1},
      {"2025-12-12T24:00:00Z", -1},
      {"2025-12-12T09:20:00+0100", -1},
      {"2025-12-12T09:20:00+01:00:00", -1},
      {"", -1},
  };
  for (const Case& c : cases) {
    const std::optional<int64_t> when = ExternalService::ParseDateTime(c.text);
    EXPECT_EQ(when.value_or(-1), c.expected) << c.text;
  }
}

class ExternalServicesTaskTest : public ::testing::Test {
 protected:
  static constexpr int64_t kWallNow = 1765500000;

  void SetUp() override {
    task_ = new ExternalServicesTask(session_.connection(), [] { return kWallNow; });
    task_->SignalServices.Connect(&host_, [this](const std::vector<ExternalService>& list) {
      reports_.push_back(list);
    });
    task_->Start();
    session_.Pump();
  }
  // The id of the first request in what the client sent.
  static std::string IdOf(const std::string& sent) {
    const size_t at = sent.find("id=\"");
    EXPECT_NE(at, std::string::npos) << sent;
    return at == std::string::npos ? "" : sent.substr(at + 4, sent.find('"', at + 4) - at - 4);
  }
  // Answers the request the client just sent with `inner` in `element`.
  void Answer(const std::string& element, const std::string& inner, const std::string& from = "example.net") {
    const std::string id = IdOf(session_.TakeSent());
    session_.ServerSends("<iq type='result' id='" + id + "' from='" + from + "'><" + element +
                         " xmlns='urn:xmpp:extdisco:2'>" + inner + "</" + element + "></iq>");
  }
  void AdvanceSeconds(int64_t seconds) {
    now_ += seconds * 10'000'000;
    session_.runner.PollTasks();
    session_.Pump();
  }

  int64_t now_ = 1'000'000'000;
  SignedInConnection session_{"alice", "example.net", "desk", [this] { return now_; }};
  ExternalServicesTask* task_ = nullptr;
  SlotHost host_;
  std::vector<std::vector<ExternalService>> reports_;
};

TEST_F(ExternalServicesTaskTest, AsksTheOwnDomainAndTakesOnlyItsAnswer) {
  task_->Request();
  task_->Request();  // one request at a time
  const std::string sent = session_.TakeSent();
  EXPECT_EQ(sent, "<iq type=\"get\" to=\"example.net\" id=\"3\"><services xmlns=\"urn:xmpp:extdisco:2\"/></iq>");
  const std::string body = "><services xmlns='urn:xmpp:extdisco:2'>"
                           "<service type='turn' host='t.example' port='3478' username='u' password='p'/>"
                           "</services></iq>";
  session_.ServerSends("<iq type='result' id='3' from='mallory@example.net/x'" + body);
  session_.ServerSends("<iq type='result' id='3' from='other.example'" + body);
  EXPECT_TRUE(reports_.empty());
  session_.ServerSends("<iq type='result' id='3' from='example.net'" + body);
  ASSERT_EQ(reports_.size(), 1u);
  ASSERT_EQ(reports_[0].size(), 1u);
  EXPECT_EQ(reports_[0][0].username, "u");
  // Without an expiry nothing is asked again.
  AdvanceSeconds(10 * 86400);
  EXPECT_EQ(session_.TakeSent(), "");
}

TEST_F(ExternalServicesTaskTest, AServerWithoutTheServiceReportsNothing) {
  task_->Request();
  session_.TakeSent();
  session_.ServerSends("<iq type='error' id='3' from='example.net'><error type='cancel'><service-unavailable "
                       "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  EXPECT_TRUE(reports_.empty());
  task_->Request();  // the failed request is over; a new one goes out
  EXPECT_NE(session_.TakeSent().find("<services"), std::string::npos);
}

TEST_F(ExternalServicesTaskTest, RefreshesAtFourFifthsOfTheCredentialLifetime) {
  task_->Request();
  // Valid for 1000 s from the wall clock's now: asked again after 800 s.
  Answer("services", "<service type='turn' host='t.example' username='u1' password='p' expires='2025-12-12T00:56:40Z'/>");
  ASSERT_EQ(reports_.size(), 1u);
  AdvanceSeconds(799);
  EXPECT_EQ(session_.TakeSent(), "");
  AdvanceSeconds(2);
  Answer("services", "<service type='turn' host='t.example' username='u2' password='p'/>");
  ASSERT_EQ(reports_.size(), 2u);
  EXPECT_EQ(reports_[1][0].username, "u2");
}

TEST_F(ExternalServicesTaskTest, AFailedRefreshIsTriedAgain) {
  task_->Request();
  Answer("services", "<service type='turn' host='t.example' username='u1' password='p' expires='2025-12-12T00:56:40Z'/>");
  AdvanceSeconds(801);
  session_.ServerSends("<iq type='error' id='" + IdOf(session_.TakeSent()) +
                       "' from='example.net'><error type='wait'><resource-constraint "
                       "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  EXPECT_EQ(reports_.size(), 1u);
  AdvanceSeconds(ExternalServicesTask::kMinRefreshSeconds + 1);
  EXPECT_NE(session_.TakeSent().find("<services"), std::string::npos);
}

TEST_F(ExternalServicesTaskTest, CredentialsThatExpireAtOnceDoNotMakeALoop) {
  task_->Request();
  Answer("services", "<service type='turn' host='t.example' username='u' password='p' expires='2000-01-01T00:00:00Z'/>");
  AdvanceSeconds(ExternalServicesTask::kMinRefreshSeconds - 1);
  EXPECT_EQ(session_.TakeSent(), "");
  AdvanceSeconds(1);
  EXPECT_NE(session_.TakeSent().find("<services"), std::string::npos);
}

TEST_F(ExternalServicesTaskTest, RestrictedServiceGetsItsCredentialsFromTheServer) {
  task_->Request();
  Answer("services", "<service type='turn' host='t.example' port='3478' restricted='1'/>"
                     "<service type='stun' host='t.example' port='3478'/>");
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_FALSE(reports_[0][0].HasCredentials());
  const std::string sent = session_.TakeSent();
  EXPECT_NE(sent.find("<credentials xmlns=\"urn:xmpp:extdisco:2\"><service type=\"turn\" host=\"t.example\" port=\"3478\"/>"),
            std::string::npos) << sent;
  const std::string id = IdOf(sent);
  // An answer cannot add a server the list did not have.
  session_.ServerSends("<iq type='result' id='" + id + "' from='example.net'><credentials xmlns='urn:xmpp:extdisco:2'>"
                       "<service type='turn' host='evil.example' username='u' password='p'/>"
                       "<service type='turn' host='t.example' port='3478' username='u' password='p'/>"
                       "</credentials></iq>");
  ASSERT_EQ(reports_.size(), 2u);
  ASSERT_EQ(reports_[1].size(), 2u);
  EXPECT_EQ(reports_[1][0].host, "t.example");
  EXPECT_EQ(reports_[1][0].username, "u");
  EXPECT_EQ(reports_[1][1].type, "stun");
}

TEST_F(ExternalServicesTaskTest, PushIsAcknowledgedAndTheListAskedAgain) {
  session_.ServerSends("<iq type='set' id='p1' from='mallory@other.example/x'><services xmlns='urn:xmpp:extdisco:2'>"
                       "<service action='add' type='turn' host='evil.example'/></services></iq>");
  // Refused: at most the connection's own error answer goes back, no request.
  EXPECT_EQ(session_.TakeSent().find("type=\"get\""), std::string::npos);
  session_.ServerSends("<iq type='set' id='p2' from='example.net'><services xmlns='urn:xmpp:extdisco:2'>"
                       "<service action='add' type='turn' host='t.example'/></services></iq>");
  const std::string sent = session_.TakeSent();
  EXPECT_NE(sent.find("<iq type=\"result\" to=\"example.net\" id=\"p2\"/>"), std::string::npos) << sent;
  EXPECT_NE(sent.find("<services xmlns=\"urn:xmpp:extdisco:2\"/>"), std::string::npos) << sent;
  EXPECT_TRUE(reports_.empty());
}

}  // namespace
}  // namespace vexalo
