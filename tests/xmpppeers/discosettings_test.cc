// Discovery, settings, relay information and domain lookup against a real Prosody: between
// two of our clients, through our modules for the service's namespaces, and against a plain
// server that lacks them (where the client must find out what is there and stay quiet).
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/runtime/loopthread.h"
#include "base/runtime/queuetaskrunner.h"
#include "support/sockettestutil.h"
#include "support/peers/prosodypeer.h"
#include "xml/xmlwriter.h"
#include "xmpp/stream/constants.h"
#include "xmpp/server/discoinforesponder.h"
#include "xmpp/server/domainlookuptask.h"
#include "xmpp/server/relayinfotask.h"
#include "xmpp/server/serverinfoquerytask.h"
#include "xmpp/server/settingspushtask.h"
#include "xmpp/server/settingsquerytask.h"
#include "xmpp/server/settingssettask.h"
#include "xmpp/stream/stanzatask.h"
#include "support/liveclient.h"

namespace vexalo {
namespace {

using Settings = std::vector<std::pair<std::string, UserSettingValue>>;

// Sends one iq of the test's own making and keeps the answer.
class IqProbe : public StanzaTask {
 public:
  IqProbe(StepTaskParent* parent, const XmppAddress& to, std::unique_ptr<XmlElem> iq)
      : StanzaTask(parent, kLevelFirst), to_(to), iq_(std::move(iq)) {
    iq_->SetAttribute(kQnId, task_id());
    if (to.IsValid()) iq_->SetAttribute(kQnTo, to.ToString());
  }
  bool HandleStanza(const XmlElem& stanza) override {
    // Our server answers what went to our own bare address, without a "from".
    const bool own_bare = to_.IsBareAddress() && to_.SameAccount(BoundAddress());
    if (!MatchResponseIq(stanza, own_bare ? kEmptyAddress : to_, task_id())) return false;
    QueueStanza(stanza);
    return true;
  }
  int ProcessStart() override {
    SendStanza(*iq_);
    return STATE_RESPONSE;
  }
  int ProcessResponse() override {
    const XmlElem* answer = NextStanza();
    if (answer == nullptr) return STATE_BLOCKED;
    *out_ = std::make_unique<XmlElem>(*answer);
    return STATE_DONE;
  }
  void set_out(std::unique_ptr<XmlElem>* out) { out_ = out; }

 private:
  XmppAddress to_;
  std::unique_ptr<XmlElem> iq_;
  std::unique_ptr<XmlElem>* out_ = nullptr;
};

// Counts the iq requests a client writes, to see that nothing is retried.
class RequestCounter : public SlotHost {
 public:
  explicit RequestCounter(XmppConnection* connection) {
    connection->SignalLogOutput.Connect(this, [this](const char* bytes, size_t n) {
      const std::string text(bytes, n);
      for (const char* type : {"type=\"get\"", "type=\"set\""}) {
        for (size_t at = text.find(type); at != std::string::npos; at = text.find(type, at + 1)) ++count;
      }
    });
  }
  int count = 0;
};

class PeerTest : public ::testing::Test {
 protected:
  void SignIn(ProsodyPeer* prosody, LiveClient** slot, const std::string& user, const std::string& resource) {
    clients_.push_back(std::make_unique<LiveClient>(
        &runner_, LocalServerSettings(prosody->port(), user, "secret", resource), prosody->certificate()));
    *slot = clients_.back().get();
    ASSERT_TRUE(RunUntil([&] { return (*slot)->Open() || (*slot)->Closed(); }));
    ASSERT_TRUE((*slot)->Open()) << EngineErrorName((*slot)->error) << "\n" << (*slot)->Traffic();
  }
  std::unique_ptr<XmlElem> Ask(LiveClient* client, const XmppAddress& to, const std::string& xml) {
    std::unique_ptr<XmlElem> answer;
    auto* probe = new IqProbe(client->connection(), to, XmlElem::ParseFromString(xml));
    probe->set_out(&answer);
    probe->Start();
    EXPECT_TRUE(RunUntil([&] { return answer != nullptr; })) << xml;
    return answer;
  }
  std::set<std::string> ServerFeatures(LiveClient* client) {
    std::set<std::string> features;
    bool done = false;
    auto* task = new ServerInfoQueryTask(client->connection());
    task->SignalFeatures.Connect(&host_, [&](const std::set<std::string>& f) {
      features = f;
      done = true;
    });
    task->Start();
    EXPECT_TRUE(RunUntil([&] { return done; }));
    return features;
  }
  static std::string ErrorCondition(const XmlElem& answer) {
    const XmlElem* error = answer.FindChild(kQnError);
    if (answer.GetAttribute(kQnType) != kStrError || error == nullptr) return "";
    const XmlElem* condition = error->FirstChildElement();
    return condition ? condition->Name().LocalName() : "";
  }

  QueueTaskRunner runner_;
  SlotHost host_;
  std::vector<std::unique_ptr<LiveClient>> clients_;
};

// --- Through our modules for the service's namespaces. ---

class PeerServiceNamespacesTest : public PeerTest {
 protected:
  static void SetUpTestSuite() {
    prosody_ = new ProsodyPeer({"ombrix_settings", "ombrix_relayinfo", "ombrix_domain"},
                               "ombrix_stun_servers = { { host = \"127.0.0.1\", udp = \"3478\" }, "
                               "{ host = \"stun.example.net\", udp = \"3479\" }, { host = \"bad host\", udp = \"1\" } }\n"
                               "ombrix_relay_hosts = { \"relay.example.net\" }\n"
                               "ombrix_relayinfo_push_after = 1\n"
                               "ombrix_reachable_domains = { \"partner.example\" }\n");
    for (const char* user : {"carol", "dave", "erin", "frank"}) prosody_->AddUser(user, "secret");
  }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(prosody_->started()) << prosody_->error(); }
  static ProsodyPeer* prosody_;
};
ProsodyPeer* PeerServiceNamespacesTest::prosody_ = nullptr;

TEST_F(PeerServiceNamespacesTest, ServerAnnouncesTheServiceNamespaces) {
  LiveClient* carol = nullptr;
  ASSERT_NO_FATAL_FAILURE(SignIn(prosody_, &carol, "carol", "desk"));
  const std::set<std::string> features = ServerFeatures(carol);
  for (std::string_view ns : {kNsSetting, kNsRelayInfo, kNsDomain}) {
    EXPECT_EQ(features.count(std::string(ns)), 1u) << ns;
  }
}

TEST_F(PeerServiceNamespacesTest, SettingsAreReadWrittenAndPushedToTheOtherClient) {
  LiveClient* desk = nullptr;
  LiveClient* phone = nullptr;
  ASSERT_NO_FATAL_FAILURE(SignIn(prosody_, &desk, "dave", "desk"));
  ASSERT_NO_FATAL_FAILURE(SignIn(prosody_, &phone, "dave", "phone"));

  // The answer's settings, once `expected` of them arrived.
  auto query = [&](LiveClient* client, size_t expected) {
    Settings settings;
    auto* task = new SettingsQueryTask(client->connection());
    task->SignalSetting.Connect(&host_, [&](const std::string& n, UserSettingValue v) { settings.emplace_back(n, v); });
    task->Start();
    EXPECT_TRUE(RunUntil([&] { return settings.size() >= expected; }));
    return settings;
  };
  EXPECT_EQ(query(desk, 2), (Settings{{"autoacceptrequests", UserSettingValue::kFalse},
                                   {"mailnotifications", UserSettingValue::kTrue}}));

  Settings pushed;
  auto* push = new SettingsPushTask(phone->connection());
  push->SignalSetting.Connect(&host_, [&](const std::string& n, UserSettingValue v) { pushed.emplace_back(n, v); });
  push->Start();

  UserSettingChanges changes;
  changes.auto_accept_requests = true;
  changes.mail_notifications = false;
  changes.archiving_enabled = true;
  std::vector<bool> done;
  auto* set = new SettingsSetTask(desk->connection(), changes);
  set->SignalDone.Connect(&host_, [&](bool ok) { done.push_back(ok); });
  set->Start();
  ASSERT_TRUE(RunUntil([&] { return !done.empty() && !pushed.empty(); }));
  EXPECT_EQ(done, std::vector<bool>{true});
  const Settings now{{"archivingenabled", UserSettingValue::kTrue},
                     {"autoacceptrequests", UserSettingValue::kTrue},
                     {"mailnotifications", UserSettingValue::kFalse}};
  EXPECT_EQ(pushed, now);
  EXPECT_EQ(query(desk, 3), now);

  // The server's refusals.
  std::unique_ptr<XmlElem> answer =
      Ask(desk, XmppAddress("dave@localhost"),
          "<iq xmlns='jabber:client' type='set'><usersetting xmlns='ombrix:setting'>"
          "<mailnotifications value='sometimes'/></usersetting></iq>");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(ErrorCondition(*answer), "bad-request");
  answer = Ask(desk, XmppAddress("carol@localhost"),
               "<iq xmlns='jabber:client' type='get'><usersetting xmlns='ombrix:setting'/></iq>");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(ErrorCondition(*answer), "forbidden");
  // A refused set changed nothing and pushed nothing.
  EXPECT_EQ(query(desk, 3), now);
  EXPECT_EQ(pushed.size(), 3u);
}

TEST_F(PeerServiceNamespacesTest, RelayInformationIsAnsweredCheckedAndPushed) {
  LiveClient* erin = nullptr;
  ASSERT_NO_FATAL_FAILURE(SignIn(prosody_, &erin, "erin", "desk"));
  struct Report {
    std::string token;
    std::vector<std::string> relays;
    std::vector<std::string> stun;
  };
  std::vector<Report> reports;
  auto* task = new RelayInfoTask(erin->connection());
  task->SignalRelayInfo.Connect(&host_, [&](const std::string& token, const std::vector<std::string>& relays,
                                            const std::vector<SocketAddress>& stun) {
    Report r{token, relays, {}};
    for (const SocketAddress& a : stun) r.stun.push_back(a.ToString());
    reports.push_back(r);
  });
  task->Start();
  task->Request();
  ASSERT_TRUE(RunUntil([&] { return !reports.empty(); }));
  EXPECT_FALSE(reports[0].token.empty());
  EXPECT_EQ(reports[0].relays, std::vector<std::string>{"relay.example.net"});
  // The entry with a host name that is no host name was dropped.
  EXPECT_EQ(reports[0].stun, (std::vector<std::string>{"127.0.0.1:3478", "stun.example.net:3479"}));

  // The server pushes a new token a second after sign-in.
  ASSERT_TRUE(RunUntil([&] { return reports.size() >= 2; }));
  EXPECT_NE(reports[1].token, reports[0].token);
  EXPECT_EQ(reports[1].relays, reports[0].relays);

  std::unique_ptr<XmlElem> answer =
      Ask(erin, kEmptyAddress, "<iq xmlns='jabber:client' type='set'><query xmlns='ombrix:relayinfo'/></iq>");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(ErrorCondition(*answer), "not-allowed");
}

TEST_F(PeerServiceNamespacesTest, DomainLookupAsksTheServer) {
  LiveClient* frank = nullptr;
  ASSERT_NO_FATAL_FAILURE(SignIn(prosody_, &frank, "frank", "desk"));
  std::vector<std::string> results;
  const std::vector<std::string> domains{"localhost", "partner.example", "nowhere.example", std::string(kWebMailDomain)};
  for (const std::string& domain : domains) {
    auto* task = new DomainLookupTask(frank->connection(), domain);
    task->SignalDomainResult.Connect(&host_, [&](const DomainResult& r) {
      results.push_back(r.domain + (r.reachable ? "=yes" : "=no"));
    });
    task->Start();
    ASSERT_TRUE(RunUntil([&] { return results.size() == 1; })) << domain;
    // The server's word counts here, also for the web-mail domain it does not know.
    EXPECT_EQ(results[0], domain + (domain == "localhost" || domain == "partner.example" ? "=yes" : "=no"));
    results.clear();
  }

  std::unique_ptr<XmlElem> answer =
      Ask(frank, XmppAddress("frank@localhost"),
          "<iq xmlns='jabber:client' type='get'><domain-lookup xmlns='ombrix:domain'/></iq>");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(ErrorCondition(*answer), "bad-request");
  answer = Ask(frank, XmppAddress("frank@localhost"),
               "<iq xmlns='jabber:client' type='get'><domain-lookup xmlns='ombrix:domain' "
               "xmlns:dom='ombrix:domain' dom:domain='a b@c'/></iq>");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(ErrorCondition(*answer), "jid-malformed");
}

// --- Against a plain Prosody, and between two of our clients. ---

class PeerPlainServerTest : public PeerTest {
 protected:
  static void SetUpTestSuite() {
    prosody_ = new ProsodyPeer();
    for (const char* user : {"gina", "hank", "ivan"}) prosody_->AddUser(user, "secret");
  }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(prosody_->started()) << prosody_->error(); }
  static ProsodyPeer* prosody_;
};
ProsodyPeer* PeerPlainServerTest::prosody_ = nullptr;

TEST_F(PeerPlainServerTest, DiscoIsAnsweredBetweenTwoOfOurClients) {
  LiveClient* gina = nullptr;
  LiveClient* hank = nullptr;
  ASSERT_NO_FATAL_FAILURE(SignIn(prosody_, &gina, "gina", "desk"));
  ASSERT_NO_FATAL_FAILURE(SignIn(prosody_, &hank, "hank", "desk"));
  auto* responder = new DiscoInfoResponder(hank->connection());
  responder->AddClientBundles("1.0.0.42");
  responder->Start();

  const XmppAddress hank_full("hank@localhost/desk");
  const std::string node = std::string(kCapsNode) + "#1.0.0.42";
  std::unique_ptr<XmlElem> answer =
      Ask(gina, hank_full, "<iq xmlns='jabber:client' type='get'><query xmlns='http://jabber.org/protocol/disco#info' "
                           "node='" + node + "'/></iq>");
  ASSERT_NE(answer, nullptr);
  ASSERT_EQ(answer->GetAttribute(kQnType), kStrResult) << XmlWriter::ToString(*answer);
  const XmlElem* query = answer->FindChild(kQnDiscoInfoQuery);
  ASSERT_NE(query, nullptr);
  EXPECT_EQ(query->GetAttribute(kQnNode), node);
  std::set<std::string> features;
  for (const XmlElem* f = query->FindChild(kQnDiscoFeature); f; f = f->FindNextSibling(kQnDiscoFeature)) {
    features.insert(f->GetAttribute(kQnVar));
  }
  EXPECT_EQ(features, (std::set<std::string>{std::string(kNsDiscoInfo), std::string(kFeatureSession)}));
  ASSERT_NE(query->FindChild(kQnDiscoIdentity), nullptr);
  EXPECT_EQ(query->FindChild(kQnDiscoIdentity)->GetAttribute(kQnCategory), "client");

  answer = Ask(gina, hank_full, "<iq xmlns='jabber:client' type='get'><query xmlns='http://jabber.org/protocol/disco#info' "
                                "node='" + std::string(kCapsNode) + "#voice-v1'/></iq>");
  ASSERT_NE(answer, nullptr);
  EXPECT_NE(XmlWriter::ToString(*answer).find(std::string(kFeatureVoice)), std::string::npos);

  answer = Ask(gina, hank_full, "<iq xmlns='jabber:client' type='get'><query xmlns='http://jabber.org/protocol/disco#info' "
                                "node='" + std::string(kCapsNode) + "#nope'/></iq>");
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(ErrorCondition(*answer), "item-not-found");
  EXPECT_NE(XmlWriter::ToString(*answer).find(DiscoInfoResponder::kNotFoundText), std::string::npos);
}

TEST_F(PeerPlainServerTest, WithoutTheServiceNamespacesTheClientDegradesQuietly) {
  LiveClient* ivan = nullptr;
  ASSERT_NO_FATAL_FAILURE(SignIn(prosody_, &ivan, "ivan", "desk"));
  RequestCounter requests(ivan->connection());

  // What is there: a server, without the service's namespaces.
  const std::set<std::string> features = ServerFeatures(ivan);
  EXPECT_EQ(features.count(std::string(kNsDiscoInfo)), 1u);
  for (std::string_view ns : {kNsSetting, kNsRelayInfo, kNsDomain}) EXPECT_EQ(features.count(std::string(ns)), 0u) << ns;

  int settings = 0, relay_reports = 0;
  std::vector<std::string> domains;
  auto* query = new SettingsQueryTask(ivan->connection());
  query->SignalSetting.Connect(&host_, [&](const std::string&, UserSettingValue) { ++settings; });
  query->Start();
  auto* relay = new RelayInfoTask(ivan->connection());
  relay->SignalRelayInfo.Connect(&host_, [&](const std::string&, const std::vector<std::string>&,
                                             const std::vector<SocketAddress>&) { ++relay_reports; });
  relay->Start();
  relay->Request();
  for (const std::string& domain : {std::string(kWebMailDomain), std::string("partner.example")}) {
    auto* lookup = new DomainLookupTask(ivan->connection(), domain);
    lookup->SignalDomainResult.Connect(&host_, [&](const DomainResult& r) {
      domains.push_back(r.domain + (r.reachable ? "=yes" : "=no"));
    });
    lookup->Start();
  }
  ASSERT_TRUE(RunUntil([&] { return domains.size() == 2; }));
  // The error answers end the one-shot tasks; give any retry loop a chance to show itself.
  const size_t services = 2;  // the connection and the relay task stay
  EXPECT_TRUE(RunUntil([&] { return runner_.task_count() == services; })) << runner_.task_count();
  for (int i = 0; i < 60; ++i) ThreadRegistry::Current()->RunFor(10);

  EXPECT_EQ(domains, (std::vector<std::string>{std::string(kWebMailDomain) + "=yes", "partner.example=no"}));
  EXPECT_EQ(settings, 0);
  EXPECT_EQ(relay_reports, 0);
  EXPECT_EQ(requests.count, 5);  // disco, settings, relay information, two lookups: once each
  EXPECT_TRUE(ivan->Open());
}

}  // namespace
}  // namespace vexalo
