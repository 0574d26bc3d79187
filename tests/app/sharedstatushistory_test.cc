// The status history over a scripted server: read at sign-in, extended by the user's
// statuses within the service's limits, replaced by pushes; silent without the service.
#include "app/sharedstatushistory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/signedinconnection.h"

namespace vexalo {
namespace {

class SharedStatusHistoryTest : public ::testing::Test {
 protected:
  SharedStatusHistoryTest() : history_(session_.connection()) {
    session_.Pump();
    const std::string sent = session_.TakeSent();
    EXPECT_NE(sent.find("ombrix:shared-status"), std::string::npos) << sent;
    const size_t id = sent.find("id=\"") + 4;
    query_id_ = sent.substr(id, sent.find('"', id) - id);
  }
  void Answer(const std::string& type, const std::string& query) {
    session_.ServerSends("<iq type='" + type + "' id='" + query_id_ + "'>" + query + "</iq>");
  }

  SignedInConnection session_;
  SharedStatusHistory history_;
  std::string query_id_;
};

TEST_F(SharedStatusHistoryTest, UsersStatusesGoToTheFrontWithinTheLimits) {
  Answer("result",
         "<query xmlns='ombrix:shared-status' status-max='10' status-list-max='2' "
         "status-list-contents-max='3'><status>Lunch</status><show>default</show>"
         "<status-list show='default'><status>Lunch</status><status>Working</status>"
         "<status>Home</status></status-list></query>");
  ASSERT_TRUE(history_.known());
  EXPECT_EQ(history_.Recent(), (std::vector<std::string>{"Lunch", "Working", "Home"}));

  // A known text moves to the front instead of appearing twice.
  history_.Record(ShowState::kOnline, false, "Home");
  EXPECT_EQ(history_.Recent(), (std::vector<std::string>{"Home", "Lunch", "Working"}));
  const std::string set = session_.TakeSent();
  EXPECT_NE(set.find("type=\"set\""), std::string::npos) << set;
  EXPECT_NE(set.find("<status>Home</status><status>Lunch</status><status>Working</status>"),
            std::string::npos)
      << set;

  // A new one pushes the oldest out; a long one is cut to status-max.
  history_.Record(ShowState::kOnline, false, "In a meeting until four");
  EXPECT_EQ(history_.Recent(), (std::vector<std::string>{"In a meeti", "Home", "Lunch"}));

  // Another show starts its own list while there is room for one; beyond, none is made.
  history_.Record(ShowState::kDnd, false, "Call");
  EXPECT_EQ(history_.Recent(), std::vector<std::string>{"Call"});
  history_.Record(ShowState::kAway, false, "Out");
  EXPECT_TRUE(history_.Recent().empty());
  EXPECT_EQ(history_.shared().show, "away");
  EXPECT_EQ(history_.shared().status, "Out");

  // Invisible is not shared.
  session_.TakeSent();
  history_.Record(ShowState::kOnline, true, "Hidden");
  EXPECT_EQ(session_.TakeSent(), "");
}

TEST_F(SharedStatusHistoryTest, PushReplacesTheHistory) {
  Answer("result", "<query xmlns='ombrix:shared-status'><show>dnd</show></query>");
  int changes = 0;
  SlotHost host;
  history_.SignalChanged.Connect(&host, [&] { ++changes; });
  session_.ServerSends(
      "<iq type='set' id='push1'><query xmlns='ombrix:shared-status'><show>dnd</show>"
      "<status-list show='dnd'><status>Elsewhere</status></status-list></query></iq>");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(history_.Recent(), std::vector<std::string>{"Elsewhere"});
}

TEST_F(SharedStatusHistoryTest, ServerWithoutTheServiceIsSentNothing) {
  Answer("error",
         "<error type='cancel'><service-unavailable "
         "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error>");
  EXPECT_FALSE(history_.known());
  history_.Record(ShowState::kAway, false, "Out");
  EXPECT_EQ(session_.TakeSent(), "");
  EXPECT_TRUE(history_.Recent().empty());
}

}  // namespace
}  // namespace vexalo
