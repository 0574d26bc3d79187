// Off-the-record settings ("ombrix:nosave"): set, query and pushes, from stanza transcripts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xmpp/stream/constants.h"
#include "xmpp/messages/nosavepushtask.h"
#include "xmpp/messages/nosavequerytask.h"
#include "xmpp/messages/nosavesettask.h"
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

std::string Describe(const NoSaveEntry& e) {
  return e.source.ToString() + "|" + e.contact.ToString() + "|" + (e.enabled ? "on" : "off");
}

class NoSaveTest : public ::testing::Test {
 protected:
  SignedInConnection session_;
  SlotHost host_;
  std::vector<std::string> got_;
};

TEST_F(NoSaveTest, SetSendsOneItemPerContactAndEndsWithTheAnswer) {
  auto* task = new NoSaveSetTask(session_.connection());
  EXPECT_EQ(task->AddItem(XmppAddress("bob@example.net/pda"), true), EngineResult::kOk);
  EXPECT_EQ(task->AddItem(XmppAddress("carol@example.net"), false), EngineResult::kOk);
  EXPECT_EQ(task->AddItem(kEmptyAddress, false), EngineResult::kBadArgument);
  std::vector<bool> done;
  task->SignalDone.Connect(&host_, [&](bool ok) { done.push_back(ok); });
  task->Start();
  EXPECT_EQ(
      session_.TakeSent(),
      "<iq type=\"set\" to=\"alice@example.net\" id=\"2\"><nos:query xmlns:nos=\"ombrix:nosave\">"
      "<nos:item jid=\"bob@example.net\" source=\"alice@example.net/desk\" value=\"enabled\"/>"
      "<nos:item jid=\"carol@example.net\" source=\"alice@example.net/desk\" value=\"disabled\"/>"
      "</nos:query></iq>");
  // Sent: too late for more.
  EXPECT_EQ(task->AddItem(XmppAddress("dave@example.net"), true), EngineResult::kBadState);
  // Someone else answering with our id is not our server.
  session_.ServerSends("<iq type='result' id='2' from='mallory@example.net/x'/>");
  EXPECT_TRUE(done.empty());
  session_.TakeSent();
  session_.ServerSends("<iq type='error' id='2' from='alice@example.net'/>");
  EXPECT_EQ(done, std::vector<bool>{false});
  EXPECT_EQ(session_.runner.task_count(), 1u);  // the connection alone
}

TEST_F(NoSaveTest, QueryReportsEveryItemOfAResultAndNothingOfAnError) {
  for (const bool error : {false, true}) {
    got_.clear();
    auto* task = new NoSaveQueryTask(session_.connection());
    const std::string id = task->task_id();
    task->SignalNoSave.Connect(&host_, [&](const NoSaveEntry& e) { got_.push_back(Describe(e)); });
    task->Start();
    EXPECT_EQ(session_.TakeSent(), "<iq type=\"get\" to=\"alice@example.net\" id=\"" + id +
                                       "\"><nos:query xmlns:nos=\"ombrix:nosave\"/></iq>");
    if (error) {
      session_.ServerSends("<iq type='error' id='" + id +
                           "'><query xmlns='ombrix:nosave'/><error type='cancel'>"
                           "<service-unavailable xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/>"
                           "</error></iq>");
      EXPECT_TRUE(got_.empty());
    } else {
      session_.ServerSends("<iq type='result' id='" + id +
                           "'><query xmlns='ombrix:nosave'>"
                           "<item jid='bob@example.net' value='enabled'/>"
                           "<item jid='carol@example.net' value='disabled'/>"
                           "<item jid='' value='enabled'/>"
                           "<item jid='dave@example.net' value='ENABLED'/>"
                           "</query></iq>");
      EXPECT_EQ(got_, (std::vector<std::string>{"|bob@example.net|on", "|carol@example.net|off",
                                                "|dave@example.net|off"}));
    }
    EXPECT_EQ(session_.runner.task_count(), 1u);
  }
}

TEST_F(NoSaveTest, PushesAreAcknowledgedWithAnEmptyRosterQuery) {
  auto* task = new NoSavePushTask(session_.connection());
  task->SignalNoSave.Connect(&host_, [&](const NoSaveEntry& e) { got_.push_back(Describe(e)); });
  task->Start();
  session_.Pump();

  session_.ServerSends(
      "<iq type='set' id='p1' from='alice@example.net'><query xmlns='ombrix:nosave'>"
      "<item jid='bob@example.net' source='alice@example.net/laptop' value='enabled'/>"
      "<item jid='carol@example.net' source='alice@example.net/laptop' value='enabled'/>"
      "</query></iq>");
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"result\" to=\"alice@example.net\" id=\"p1\"><query "
            "xmlns=\"jabber:iq:roster\"/></iq>");
  EXPECT_EQ(got_, std::vector<std::string>{"alice@example.net/laptop|bob@example.net|on"});

  // Without "from" (the server itself), and an empty push: acknowledged, nothing reported.
  got_.clear();
  session_.ServerSends("<iq type='set' id='p2'><query xmlns='ombrix:nosave'/></iq>");
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"result\" id=\"p2\"><query xmlns=\"jabber:iq:roster\"/></iq>");
  EXPECT_TRUE(got_.empty());

  // A contact cannot change our settings: the push is left to the engine's error answer.
  session_.ServerSends(
      "<iq type='set' id='p3' from='mallory@example.net/x'><query "
      "xmlns='ombrix:nosave'><item jid='bob@example.net' value='disabled'/>"
      "</query></iq>");
  const std::string answer = session_.TakeSent();
  EXPECT_NE(answer.find("type=\"error\""), std::string::npos) << answer;
  EXPECT_EQ(answer.find("jabber:iq:roster"), std::string::npos) << answer;
  EXPECT_TRUE(got_.empty());
}

}  // namespace
}  // namespace vexalo
