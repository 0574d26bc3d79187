// The plug-in data channel and plug-in iq requests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml/xmlwriter.h"
#include "xmpp/stream/constants.h"
#include "xmpp/server/plugindatatask.h"
#include "xmpp/server/pluginiqtask.h"
#include "xmpp/server/pluginsendtask.h"
#include "base/runtime/loopthread.h"  // used by SignedInConnection::Pump
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

class PluginDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    task_ = new PluginDataTask(session_.connection());
    task_->SignalPluginData.Connect(&host_, [this](const std::string& cap, const std::string& from,
                                                   const std::string& data) {
      received_.push_back(cap + "|" + from + "|" + data);
    });
    task_->Start();
  }
  SignedInConnection session_;
  PluginDataTask* task_ = nullptr;
  SlotHost host_;
  std::vector<std::string> received_;
};

TEST_F(PluginDataTest, ReceivedDataIsAcknowledgedAndReported) {
  session_.ServerSends("<iq type='set' id='d1' from='bob@example.net/pc'><plugin xmlns='ombrix:plugin'>"
                       "<capability>whiteboard</capability><data>aGVsbG8=</data></plugin></iq>");
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"result\" to=\"bob@example.net/pc\" id=\"d1\"><plugin xmlns=\"ombrix:plugin\"/></iq>");
  EXPECT_EQ(received_, std::vector<std::string>{"whiteboard|bob@example.net/pc|aGVsbG8="});
}

TEST_F(PluginDataTest, IncompleteDataIsAcknowledgedButNotReported) {
  for (const char* inner : {"<capability>wb</capability>", "<data>x</data>", ""}) {
    session_.ServerSends(std::string("<iq type='set' id='d1' from='bob@example.net/pc'><plugin xmlns='ombrix:plugin'>") +
                         inner + "</plugin></iq>");
    EXPECT_NE(session_.TakeSent().find("type=\"result\""), std::string::npos) << inner;
  }
  EXPECT_TRUE(received_.empty());
}

TEST_F(PluginDataTest, OnlyThePlainDefaultNamespaceDeclarationIsAccepted) {
  for (const char* plugin :
       {"<p:plugin xmlns:p='ombrix:plugin'><p:capability>wb</p:capability><p:data>x</p:data></p:plugin>",
        "<plugin xmlns='ombrix:plugin' extra='1'><capability>wb</capability><data>x</data></plugin>"}) {
    session_.ServerSends(std::string("<iq type='set' id='d1' from='bob@example.net/pc'>") + plugin + "</iq>");
    EXPECT_NE(session_.TakeSent().find("<feature-not-implemented"), std::string::npos) << plugin;
  }
  EXPECT_TRUE(received_.empty());
}

TEST_F(PluginDataTest, SendingWaitsForTheContactsAcknowledgement) {
  std::vector<bool> done;
  PluginSendTask* sender = task_->Send(XmppAddress("bob@example.net/pc"), "whiteboard", "aGk=");
  ASSERT_NE(sender, nullptr);
  sender->SignalDone.Connect(&host_, [&](bool ok) { done.push_back(ok); });
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"set\" to=\"bob@example.net/pc\" id=\"3\"><plugin xmlns=\"ombrix:plugin\">"
            "<capability>whiteboard</capability><data>aGk=</data></plugin></iq>");
  session_.ServerSends("<iq type='result' id='3' from='mallory@example.net/x'/>");
  EXPECT_TRUE(done.empty());
  session_.ServerSends("<iq type='result' id='3' from='bob@example.net/pc'/>");
  EXPECT_EQ(done, std::vector<bool>{true});

  sender = task_->Send(XmppAddress("bob@example.net/pc"), "whiteboard", "aGk=");
  sender->SignalDone.Connect(&host_, [&](bool ok) { done.push_back(ok); });
  session_.TakeSent();
  sender->SetTimeout(0);
  session_.runner.PollTasks();
  session_.Pump();
  EXPECT_EQ(done, (std::vector<bool>{true, false}));
}

class PluginIqTest : public ::testing::Test {
 protected:
  PluginIqTask* Request(const std::string& xml) {
    std::unique_ptr<XmlElem> request = XmlElem::ParseFromString(xml);
    EXPECT_NE(request, nullptr);
    auto* task = new PluginIqTask(session_.connection(), *request);
    task->SignalAnswer.Connect(&host_, [this](PluginIqTask::Outcome outcome, const XmlElem* answer) {
      outcomes_.push_back(outcome);
      // As the plug-in host prints it inside the client's namespace.
      const std::string_view predeclared[] = {"", kNsClient};
      answers_.push_back(answer ? XmlWriter::ToString(*answer, predeclared) : "");
    });
    task->Start();
    return task;
  }
  SignedInConnection session_;
  SlotHost host_;
  std::vector<PluginIqTask::Outcome> outcomes_;
  std::vector<std::string> answers_;
};

TEST_F(PluginIqTest, SendsUnderOurIdAndHandsBackTheAnswerUnderThePluginsId) {
  Request("<iq xmlns='jabber:client' type='get' id='plugin-7' to='bob@example.net/pc' from='spoof@x'>"
          "<q xmlns='urn:plugin'/></iq>");
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"get\" id=\"2\" to=\"bob@example.net/pc\"><q xmlns=\"urn:plugin\"/></iq>");
  // The plug-in's id on the wire would not be taken, nor an answer from someone else.
  session_.ServerSends("<iq type='result' id='plugin-7' from='bob@example.net/pc'/>");
  session_.ServerSends("<iq type='result' id='2' from='mallory@example.net/x'/>");
  EXPECT_TRUE(outcomes_.empty());
  session_.ServerSends("<iq type='result' id='2' from='bob@example.net/pc'><q xmlns='urn:plugin'>ok</q></iq>");
  ASSERT_EQ(outcomes_, std::vector<PluginIqTask::Outcome>{PluginIqTask::Outcome::kResult});
  EXPECT_EQ(answers_[0], "<iq type=\"result\" id=\"plugin-7\" from=\"bob@example.net/pc\">"
                         "<q xmlns=\"urn:plugin\">ok</q></iq>");
}

TEST_F(PluginIqTest, ErrorsWithoutIdsAndRequestsToOurServer) {
  // The task is gone once it reported: keep its id.
  const std::string id = Request("<iq xmlns='jabber:client' type='set'><q xmlns='urn:plugin'/></iq>")->task_id();
  EXPECT_EQ(session_.TakeSent(), "<iq type=\"set\" id=\"" + id + "\"><q xmlns=\"urn:plugin\"/></iq>");
  session_.ServerSends("<iq type='error' id='" + id + "' from='example.net'/>");
  ASSERT_EQ(outcomes_, std::vector<PluginIqTask::Outcome>{PluginIqTask::Outcome::kError});
  EXPECT_NE(answers_[0].find("id=\"" + id + "\""), std::string::npos);
}

TEST_F(PluginIqTest, RefusedRequestsAndTimeOut) {
  for (const char* bad : {"<iq xmlns='jabber:client' type='result' id='1'/>",
                          "<message xmlns='jabber:client' to='bob@example.net'/>",
                          "<iq xmlns='jabber:client' type='get' to='@@'/>"}) {
    Request(bad);
    EXPECT_EQ(session_.TakeSent(), "") << bad;
  }
  EXPECT_EQ(outcomes_, std::vector<PluginIqTask::Outcome>(3, PluginIqTask::Outcome::kRefused));

  outcomes_.clear();
  PluginIqTask* task = Request("<iq xmlns='jabber:client' type='get' to='bob@example.net/pc'/>");
  session_.TakeSent();
  task->SetTimeout(0);
  session_.runner.PollTasks();
  session_.Pump();
  EXPECT_EQ(outcomes_, std::vector<PluginIqTask::Outcome>{PluginIqTask::Outcome::kTimeout});
}

}  // namespace
}  // namespace vexalo
