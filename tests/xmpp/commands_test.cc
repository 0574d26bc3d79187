// Remote commands from the user's other clients, call notifications back to them, and the
// server's update-check request.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xmpp/server/callnotifytask.h"
#include "xmpp/server/commandtask.h"
#include "xmpp/stream/constants.h"
#include "base/runtime/loopthread.h"  // used by SignedInConnection::Pump
#include "support/signedinconnection.h"
#include "xmpp/server/updatecommandtask.h"

namespace vexalo {
namespace {

class CommandTaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    task_ = new CommandTask(session_.connection());
    task_->SignalCommand.Connect(&host_, [this](const XmppAddress& from, const std::string& node,
                                                const XmlElem& command, XmlElem* reply) {
      seen_.push_back(from.ToString() + " " + node + " " + command.GetAttribute(kQnJid));
      if (node == kStrPhoneCallEnum) {
        reply->FindChild(kQnCommand)->AppendChild(std::make_unique<XmlElem>(XmlName(kNsOmbrixCommands, "call"), true));
      }
    });
    task_->Start();
  }
  static std::string Command(const std::string& from, const std::string& attrs) {
    return "<iq type='set' id='c1' from='" + from + "'><command xmlns='http://jabber.org/protocol/commands' " +
           attrs + "/></iq>";
  }
  SignedInConnection session_;
  CommandTask* task_ = nullptr;
  SlotHost host_;
  std::vector<std::string> seen_;
};

TEST_F(CommandTaskTest, ExecuteFromOurAccountIsReportedAndCompleted) {
  session_.ServerSends(Command("alice@example.net/phone",
                               "node='phone-call-start' action='execute' jid='bob@example.net'"));
  EXPECT_EQ(seen_, std::vector<std::string>{"alice@example.net/phone phone-call-start bob@example.net"});
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"result\" to=\"alice@example.net/phone\" id=\"c1\">"
            "<command xmlns=\"http://jabber.org/protocol/commands\" node=\"phone-call-start\" "
            "status=\"completed\"/></iq>");
  // Listeners may fill the reply.
  session_.ServerSends(Command("alice@example.net/phone", "node='phone-call-enum' action='execute'"));
  const std::string sent = session_.TakeSent();
  EXPECT_NE(sent.find("status=\"completed\"><call xmlns=\"ombrix:commands\"/></command>"),
            std::string::npos) << sent;
}

TEST_F(CommandTaskTest, OtherActionsGetAnEmptyResultAndNoReport) {
  for (const char* action : {"action='cancel'", "action='EXECUTE'", ""}) {
    session_.ServerSends(Command("alice@example.net/phone", std::string("node='locate-client' ") + action));
    EXPECT_EQ(session_.TakeSent(), "<iq type=\"result\" to=\"alice@example.net/phone\" id=\"c1\"/>") << action;
  }
  EXPECT_TRUE(seen_.empty());
}

TEST_F(CommandTaskTest, ContactsCannotCommandUs) {
  session_.ServerSends(Command("mallory@example.net/x", "node='phone-call-start' action='execute' jid='x@y'"));
  const std::string sent = session_.TakeSent();
  EXPECT_NE(sent.find("type=\"error\""), std::string::npos) << sent;
  EXPECT_NE(sent.find("<forbidden"), std::string::npos) << sent;
  EXPECT_TRUE(seen_.empty());
  // No readable sender: dropped.
  session_.ServerSends("<iq type='set' id='c1'><command xmlns='http://jabber.org/protocol/commands' "
                       "node='locate-client' action='execute'/></iq>");
  EXPECT_EQ(session_.TakeSent(), "");
  EXPECT_TRUE(seen_.empty());
}

class CallNotifyTest : public ::testing::Test {
 protected:
  CallNotifyTask* Notify(const XmppAddress& listener, std::string_view type) {
    auto* task = new CallNotifyTask(session_.connection(), listener, XmppAddress("bob@example.net/pc"), type);
    task->SignalDone.Connect(&host_, [this](bool ok) { done_.push_back(ok); });
    task->Start();
    return task;
  }
  SignedInConnection session_;
  SlotHost host_;
  std::vector<bool> done_;
};

TEST_F(CallNotifyTest, SendsTheNotificationAndEndsOnTheListenersAnswer) {
  const XmppAddress listener("alice@example.net/phone");
  Notify(listener, kStrPhoneCallIncoming);
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"set\" to=\"alice@example.net/phone\" id=\"2\"><phone-call-notification "
            "xmlns=\"ombrix:notify\" jid=\"bob@example.net/pc\" type=\"phone-call-incoming\"/></iq>");
  session_.ServerSends("<iq type='result' id='2' from='example.net'/>");  // not the listener
  EXPECT_TRUE(done_.empty());
  session_.ServerSends("<iq type='result' id='2' from='alice@example.net/phone'/>");
  EXPECT_EQ(done_, std::vector<bool>{true});

  Notify(listener, kStrPhoneCallConnected);
  session_.TakeSent();
  session_.ServerSends("<iq type='error' id='3' from='alice@example.net/phone'/>");
  EXPECT_EQ(done_, (std::vector<bool>{true, false}));
}

TEST_F(CallNotifyTest, GivesUpAfterTheTimeOutAndWithoutAListener) {
  CallNotifyTask* task = Notify(XmppAddress("alice@example.net/phone"), kStrPhoneCallDisconnected);
  session_.TakeSent();
  task->SetTimeout(0);
  session_.runner.PollTasks();
  session_.Pump();
  EXPECT_EQ(done_, std::vector<bool>{false});

  Notify(XmppAddress(), kStrPhoneCallDisconnected);
  EXPECT_EQ(session_.TakeSent(), "");
  EXPECT_EQ(done_, (std::vector<bool>{false, false}));
}

TEST(UpdateCommandTest, CheckUpdateFromOurServerAsIqOrMessage) {
  SignedInConnection session;
  auto* task = new UpdateCommandTask(session.connection());
  SlotHost host;
  int checks = 0;
  task->SignalCheckUpdate.Connect(&host, [&] { ++checks; });
  task->Start();

  session.ServerSends("<iq type='set' id='u1' from='example.net'><check-update xmlns='ombrix:client:command'/></iq>");
  EXPECT_EQ(session.TakeSent(), "<iq type=\"result\" to=\"example.net\" id=\"u1\"/>");
  EXPECT_EQ(checks, 1);
  session.ServerSends("<message><check-update xmlns='ombrix:client:command'/></message>");
  session.ServerSends("<message from='alice@example.net/other'><check-update xmlns='ombrix:client:command'/></message>");
  EXPECT_EQ(session.TakeSent(), "");
  EXPECT_EQ(checks, 3);

  // Contacts cannot make us fetch updates.
  session.ServerSends("<message from='mallory@example.net/x'><check-update xmlns='ombrix:client:command'/></message>");
  session.ServerSends("<iq type='set' id='u2' from='evil.example'><check-update xmlns='ombrix:client:command'/></iq>");
  EXPECT_EQ(checks, 3);
  EXPECT_NE(session.TakeSent().find("type=\"error\""), std::string::npos);
}

}  // namespace
}  // namespace vexalo
