// Answering caps queries from feature bundles, and asking our own server what it offers.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "xml/xmlwriter.h"
#include "xmpp/stream/constants.h"
#include "xmpp/server/discoinforesponder.h"
#include "xmpp/server/featurebundle.h"
#include "xmpp/server/serverinfoquerytask.h"
#include "base/runtime/loopthread.h"  // used by SignedInConnection::Pump
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

std::string CapsQuery(std::string_view from, std::string_view node, std::string_view type = "get") {
  std::string iq = "<iq type='" + std::string(type) + "' id='q1'";
  if (!from.empty()) iq += " from='" + std::string(from) + "'";
  return iq + " to='alice@example.net/desk'><query xmlns='http://jabber.org/protocol/disco#info' node='" +
         std::string(node) + "'/></iq>";
}

class DiscoInfoResponderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    responder_ = new DiscoInfoResponder(session_.connection());
    responder_->AddClientBundles("1.0.0.99");
    responder_->Start();
  }
  SignedInConnection session_;
  DiscoInfoResponder* responder_ = nullptr;
};

TEST_F(DiscoInfoResponderTest, AnswersRegisteredBundlesWithTheirQueryAndNode) {
  const std::string node = std::string(kCapsNode) + "#1.0.0.99";
  session_.ServerSends(CapsQuery("bob@example.net/pc", node));
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"result\" to=\"bob@example.net/pc\" id=\"q1\">"
            "<query xmlns=\"http://jabber.org/protocol/disco#info\" node=\"" + node + "\">"
            "<identity category=\"client\" type=\"pc\"/>"
            "<feature var=\"http://jabber.org/protocol/disco#info\"/>"
            "<feature var=\"" + std::string(kFeatureSession) + "\"/></query></iq>");

  const std::string voice = std::string(kCapsNode) + "#voice-v1";
  session_.ServerSends(CapsQuery("bob@example.net/pc", voice));
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"result\" to=\"bob@example.net/pc\" id=\"q1\">"
            "<query xmlns=\"http://jabber.org/protocol/disco#info\" node=\"" + voice + "\">"
            "<feature var=\"" + std::string(kFeatureVoice) + "\"/></query></iq>");
}

TEST_F(DiscoInfoResponderTest, UnknownKeyGetsItemNotFound) {
  session_.ServerSends(CapsQuery("bob@example.net/pc", std::string(kCapsNode) + "#video-v1"));
  const std::string sent = session_.TakeSent();
  EXPECT_NE(sent.find("type=\"error\""), std::string::npos) << sent;
  EXPECT_NE(sent.find("<item-not-found"), std::string::npos) << sent;
  EXPECT_NE(sent.find("feature bundle not found"), std::string::npos) << sent;
  EXPECT_NE(sent.find("to=\"bob@example.net/pc\""), std::string::npos) << sent;
}

TEST_F(DiscoInfoResponderTest, QueriesNotForACapsKeyOfOursAreLeftToOthers) {
  // Left unconsumed, an iq get is refused by the engine with feature-not-implemented; a
  // consumed one would be answered by us (or, without a sender, silently dropped).
  struct Case {
    const char* what;
    std::string stanza;
  } cases[] = {
      {"empty key", CapsQuery("bob@example.net/pc", std::string(kCapsNode) + "#")},
      {"bare caps node", CapsQuery("bob@example.net/pc", kCapsNode)},
      {"other family's node", CapsQuery("bob@example.net/pc", "http://example.org/caps#1.0")},
      {"prefix without '#'", CapsQuery("bob@example.net/pc", std::string(kCapsNode) + "x1.0")},
      {"no node", "<iq type='get' id='q1' from='bob@example.net/pc'>"
                  "<query xmlns='http://jabber.org/protocol/disco#info'/></iq>"},
  };
  for (const Case& c : cases) {
    session_.ServerSends(c.stanza);
    const std::string sent = session_.TakeSent();
    EXPECT_NE(sent.find("<feature-not-implemented"), std::string::npos) << c.what << ": " << sent;
  }
  // A set is no query.
  session_.ServerSends(CapsQuery("bob@example.net/pc", std::string(kCapsNode) + "#voice-v1", "set"));
  EXPECT_NE(session_.TakeSent().find("<feature-not-implemented"), std::string::npos);
}

TEST_F(DiscoInfoResponderTest, QueriesWithoutAReadableSenderAreDropped) {
  const std::string node = std::string(kCapsNode) + "#voice-v1";
  session_.ServerSends(CapsQuery("", node));
  EXPECT_EQ(session_.TakeSent(), "");
  session_.ServerSends(CapsQuery("@bad@", node));
  EXPECT_EQ(session_.TakeSent(), "");
  EXPECT_TRUE(session_.open());
}

TEST_F(DiscoInfoResponderTest, BundlesCanBeReplacedAndAddedForPlugins) {
  const std::string var = FeatureBundle::PluginFeature("http://plugins.example.org", "whiteboard");
  EXPECT_EQ(var, "http://plugins.example.org/xmpp/protocol/whiteboard");
  responder_->AddBundle("wb-v1", *FeatureBundle::MakeFeatureQuery(var));
  responder_->AddBundle(kVoiceCapsExt, *FeatureBundle::MakeFeatureQuery("urn:other"));
  EXPECT_TRUE(responder_->HasBundle("wb-v1"));
  session_.ServerSends(CapsQuery("bob@example.net/pc", std::string(kCapsNode) + "#wb-v1"));
  EXPECT_NE(session_.TakeSent().find("var=\"" + var + "\""), std::string::npos);
  session_.ServerSends(CapsQuery("bob@example.net/pc", std::string(kCapsNode) + "#voice-v1"));
  EXPECT_NE(session_.TakeSent().find("var=\"urn:other\""), std::string::npos);
}

class ServerInfoQueryTest : public ::testing::Test {
 protected:
  void Start() {
    task_ = new ServerInfoQueryTask(session_.connection());
    task_->SignalFeatures.Connect(&host_, [this](const std::set<std::string>& f) {
      features_ = f;
      ++reports_;
    });
    task_->Start();
  }
  SignedInConnection session_;
  ServerInfoQueryTask* task_ = nullptr;
  SlotHost host_;
  std::set<std::string> features_;
  int reports_ = 0;
};

TEST_F(ServerInfoQueryTest, ReportsTheFeaturesOfOurServer) {
  Start();
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"get\" to=\"example.net\" id=\"2\">"
            "<query xmlns=\"http://jabber.org/protocol/disco#info\"/></iq>");
  // An answer from anybody else is not ours to take.
  session_.ServerSends("<iq type='result' id='2' from='mallory@example.net/x'>"
                       "<query xmlns='http://jabber.org/protocol/disco#info'>"
                       "<feature var='ombrix:setting'/></query></iq>");
  EXPECT_EQ(reports_, 0);
  session_.ServerSends("<iq type='result' id='2' from='example.net'>"
                       "<query xmlns='http://jabber.org/protocol/disco#info'>"
                       "<identity category='server' type='im'/>"
                       "<feature var='ombrix:setting'/><feature var=''/>"
                       "<feature var='http://jabber.org/protocol/disco#info'/></query></iq>");
  EXPECT_EQ(reports_, 1);
  EXPECT_EQ(features_, (std::set<std::string>{"ombrix:setting", "http://jabber.org/protocol/disco#info"}));
}

TEST_F(ServerInfoQueryTest, ErrorAnswerReportsNoFeaturesAndManyAreCapped) {
  Start();
  session_.TakeSent();
  session_.ServerSends("<iq type='error' id='2' from='example.net'><error type='cancel'>"
                       "<service-unavailable xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  EXPECT_EQ(reports_, 1);
  EXPECT_TRUE(features_.empty());

  Start();  // id "3"
  std::string many = "<iq type='result' id='3' from='example.net'><query xmlns='http://jabber.org/protocol/disco#info'>";
  for (int i = 0; i < 1000; ++i) many += "<feature var='urn:f:" + std::to_string(i) + "'/>";
  many += "<feature var='" + std::string(ServerInfoQueryTask::kMaxFeatureLength + 1, 'x') + "'/>";
  session_.ServerSends(many + "</query></iq>");
  EXPECT_EQ(reports_, 2);
  EXPECT_EQ(features_.size(), ServerInfoQueryTask::kMaxFeatures);
}

}  // namespace
}  // namespace vexalo
