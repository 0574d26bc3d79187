// The service's shared status from stanza transcripts: reading, storing and pushes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml/xmlwriter.h"
#include "xmpp/stream/constants.h"
#include "xmpp/presence/sharedstatus.h"
#include "xmpp/presence/sharedstatuspushtask.h"
#include "xmpp/presence/sharedstatusquerytask.h"
#include "xmpp/presence/sharedstatussettask.h"
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

SharedStatus ParseQuery(const std::string& xml) {
  auto query = XmlElem::ParseFromString(xml);
  EXPECT_NE(query, nullptr) << xml;
  return query ? SharedStatus::Parse(*query) : SharedStatus();
}

TEST(SharedStatusTest, ParseAndWriteBack) {
  const SharedStatus shared = ParseQuery(
      "<query xmlns='ombrix:shared-status' status-max='512' status-list-max='3' "
      "status-list-contents-max='5'><status>Lunch</status><show>default</show>"
      "<status-list show='default'><status>Lunch</status><status>Working</status></status-list>"
      "<status-list show='dnd'><status>Call</status><status/></status-list></query>");
  EXPECT_EQ(shared.status, "Lunch");
  EXPECT_EQ(shared.show, "");
  EXPECT_EQ(shared.status_max, 512);
  EXPECT_EQ(shared.status_list_max, 3);
  EXPECT_EQ(shared.status_list_contents_max, 5);
  ASSERT_EQ(shared.lists.size(), 2u);
  EXPECT_EQ(shared.lists[0].first, "");
  EXPECT_EQ(shared.lists[0].second, (std::vector<std::string>{"Lunch", "Working"}));
  EXPECT_EQ(shared.lists[1].first, "dnd");
  EXPECT_EQ(shared.lists[1].second, (std::vector<std::string>{"Call", ""}));
  // The list shown "default" goes back as "default"; the current show as stored.
  EXPECT_EQ(XmlWriter::ToString(*shared.MakeQuery()),
            "<query xmlns=\"ombrix:shared-status\"><status>Lunch</status><show/>"
            "<status-list show=\"default\"><status>Lunch</status><status>Working</status>"
            "</status-list><status-list show=\"dnd\"><status>Call</status><status/>"
            "</status-list></query>");
}

TEST(SharedStatusTest, LimitsAreDefaultedAndCapped) {
  struct Case {
    const char* attributes;
    int32_t status_max;
    int32_t list_max;
    int32_t contents_max;
  };
  const Case cases[] = {
      {"", 512, 3, 5},
      {"status-max='100' status-list-max='2' status-list-contents-max='4'", 100, 2, 4},
      {"status-max='x' status-list-max='' status-list-contents-max='-1'", 512, 3, 5},
      {"status-max='5000' status-list-max='1000' status-list-contents-max='33'", 4096, 32, 32},
      {"status-max='99999999999'", 512, 3, 5},
      {"status-max='0'", 0, 3, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.attributes);
    const SharedStatus shared =
        ParseQuery(std::string("<query xmlns='ombrix:shared-status' ") + c.attributes + "/>");
    EXPECT_EQ(shared.status_max, c.status_max);
    EXPECT_EQ(shared.status_list_max, c.list_max);
    EXPECT_EQ(shared.status_list_contents_max, c.contents_max);
    EXPECT_TRUE(shared.status.empty());
    EXPECT_TRUE(shared.lists.empty());
  }
}

TEST(SharedStatusTest, OversizedAnswersAreBounded) {
  std::string xml = "<query xmlns='ombrix:shared-status'><status>" + std::string(10000, 'a') +
                    "</status>";
  for (int i = 0; i < 100; ++i) {
    xml += "<status-list show='away'>";
    for (int j = 0; j < 100; ++j) xml += "<status>s</status>";
    xml += "</status-list>";
  }
  xml += "</query>";
  const SharedStatus shared = ParseQuery(xml);
  EXPECT_EQ(shared.status.size(), static_cast<size_t>(SharedStatus::kCeilingStatusMax));
  EXPECT_EQ(shared.lists.size(), static_cast<size_t>(SharedStatus::kCeilingStatusListMax));
  EXPECT_EQ(shared.lists[0].second.size(),
            static_cast<size_t>(SharedStatus::kCeilingStatusListContentsMax));
}

class SharedStatusTaskTest : public ::testing::Test {
 protected:
  void Listen(Signal<const SharedStatus&>* signal) {
    signal->Connect(&host_, [this](const SharedStatus& shared) { seen_.push_back(shared); });
  }
  SignedInConnection session_;
  SlotHost host_;
  std::vector<SharedStatus> seen_;
};

TEST_F(SharedStatusTaskTest, QueryIsAnsweredOnlyOnBehalfOfOurAccount) {
  auto* query = new SharedStatusQueryTask(session_.connection());  // id "2"
  Listen(&query->SignalSharedStatus);
  query->Start();
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"get\" to=\"alice@example.net\" id=\"2\">"
            "<query xmlns=\"ombrix:shared-status\"/></iq>");
  const std::string answer =
      "' id='2'><query xmlns='ombrix:shared-status'><status>Here</status><show>dnd</show>"
      "</query></iq>";
  // Our own other resource, a contact or another server cannot answer for our account.
  for (const char* from : {"bob@example.net", "alice@example.net/desk", "alice@example.net/phone",
                           "other.example"}) {
    session_.ServerSends(std::string("<iq type='result' from='") + from + answer);
  }
  EXPECT_TRUE(seen_.empty());
  session_.ServerSends(std::string("<iq type='result' from='alice@example.net") + answer);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].status, "Here");
  EXPECT_EQ(seen_[0].show, "dnd");
  EXPECT_EQ(session_.runner.task_count(), 1u);
  // Our server may also leave out "from", or use its own domain.
  for (const char* from : {"", " from='example.net'"}) {
    auto* again = new SharedStatusQueryTask(session_.connection());
    Listen(&again->SignalSharedStatus);
    again->Start();
    session_.TakeSent();
    session_.ServerSends("<iq type='result' id='" + again->task_id() + "'" + from +
                         "><query xmlns='ombrix:shared-status'><status>Again</status></query></iq>");
    EXPECT_EQ(seen_.back().status, "Again");
    EXPECT_EQ(session_.runner.task_count(), 1u);
  }
  EXPECT_EQ(seen_.size(), 3u);
}

TEST_F(SharedStatusTaskTest, ErrorAnswerEndsTheQueryWithoutASignal) {
  auto* query = new SharedStatusQueryTask(session_.connection());
  Listen(&query->SignalSharedStatus);
  query->Start();
  session_.TakeSent();
  session_.ServerSends(
      "<iq type='error' from='alice@example.net' id='2'><error type='cancel'>"
      "<service-unavailable xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  EXPECT_TRUE(seen_.empty());
  EXPECT_EQ(session_.runner.task_count(), 1u);
  EXPECT_EQ(session_.TakeSent(), "");
}

TEST_F(SharedStatusTaskTest, SetStoresAndEndsWithTheAnswer) {
  SharedStatus shared;
  shared.status = "Away for lunch";
  shared.show = "away";
  shared.lists = {{"", {"Away for lunch", ""}}, {"dnd", {}}};
  auto* set = new SharedStatusSetTask(session_.connection(), shared);  // id "2"
  set->Start();
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"set\" to=\"alice@example.net\" id=\"2\">"
            "<query xmlns=\"ombrix:shared-status\"><status>Away for lunch</status>"
            "<show>away</show><status-list show=\"default\"><status>Away for lunch</status>"
            "<status/></status-list><status-list show=\"dnd\"/></query></iq>");
  session_.ServerSends("<iq type='result' from='mallory@example.net' id='2'/>");
  EXPECT_EQ(session_.runner.task_count(), 2u);
  session_.ServerSends("<iq type='result' from='alice@example.net' id='2'/>");
  EXPECT_EQ(session_.runner.task_count(), 1u);
}

TEST_F(SharedStatusTaskTest, PushesFromOurServerAreAcknowledgedOthersRefused) {
  auto* push = new SharedStatusPushTask(session_.connection());
  Listen(&push->SignalSharedStatus);
  push->Start();
  session_.ServerSends(
      "<iq type='set' id='s1' from='alice@example.net'><query xmlns='ombrix:shared-status' "
      "status-max='300'><status>Gone fishing</status><show>default</show>"
      "<status-list show='default'><status>Gone fishing</status></status-list></query></iq>");
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"result\" to=\"alice@example.net\" id=\"s1\">"
            "<query xmlns=\"ombrix:shared-status\"/></iq>");
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].status, "Gone fishing");
  EXPECT_EQ(seen_[0].status_max, 300);
  EXPECT_EQ(seen_[0].show, "");

  session_.ServerSends(
      "<iq type='set' id='s2' from='bob@example.net/x'><query xmlns='ombrix:shared-status'>"
      "<status>Pwned</status></query></iq>");
  const std::string refused = session_.TakeSent();
  EXPECT_NE(refused.find("type=\"error\""), std::string::npos) << refused;
  EXPECT_NE(refused.find("<forbidden"), std::string::npos) << refused;
  EXPECT_EQ(seen_.size(), 1u);
  // The task lives on for the next push.
  session_.ServerSends(
      "<iq type='set' id='s3'><query xmlns='ombrix:shared-status'><status>Back</status>"
      "</query></iq>");
  ASSERT_EQ(seen_.size(), 2u);
  EXPECT_EQ(seen_[1].status, "Back");
}

}  // namespace
}  // namespace vexalo
