// The generic request every one-shot stanza task is built on: what counts as its answer, the
// time-out, and a request with nothing to send.
#include "xmpp/stream/requesttask.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "xmpp/stream/constants.h"
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

const XmlName kQnPing("urn:xmpp:ping", "ping");

// Pings our server and records what ended it.
class PingRequest : public RequestTask {
 public:
  PingRequest(StepTaskParent* parent, std::vector<std::string>* ends, bool empty = false)
      : RequestTask(parent, kStrGet), ends_(ends), empty_(empty) {}

 protected:
  std::unique_ptr<XmlElem> MakePayload() override {
    return empty_ ? nullptr : std::make_unique<XmlElem>(kQnPing, true);
  }
  void ReadAnswer(const XmlElem& answer) override {
    ends_->push_back(answer.GetAttribute(kQnType));
  }
  void OnTimeout() override { ends_->push_back("timeout"); }

 private:
  std::vector<std::string>* ends_;
  bool empty_;
};

TEST(RequestTaskTest, OnlyTheFirstAnswerFromWhomWeAskedEndsIt) {
  const struct {
    const char* stanza;  // %s: the request's id
    bool taken;
  } cases[] = {
      {"<iq type='get' id='%s'><ping xmlns='urn:xmpp:ping'/></iq>", false},
      {"<iq type='set' id='%s'/>", false},
      {"<iq type='result' id='x%s'/>", false},
      {"<iq type='result' id='%s' from='bob@example.net/pc'/>", false},
      {"<iq type='result' id='%s' from='not a jid@@'/>", false},
      {"<message type='result' id='%s'/>", false},
      {"<iq type='error' id='%s' from='example.net'/>", true},
      {"<iq type='result' id='%s' from='alice@example.net'/>", true},
      {"<iq type='result' id='%s'/>", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stanza);
    SignedInConnection session;
    std::vector<std::string> ends;
    auto* task = new PingRequest(session.connection(), &ends);
    task->Start();
    session.Pump();
    EXPECT_EQ(session.TakeSent(), "<iq type=\"get\" id=\"" + task->task_id() +
                                      "\"><ping xmlns=\"urn:xmpp:ping\"/></iq>");
    std::string stanza = c.stanza;
    stanza.replace(stanza.find("%s"), 2, task->task_id());
    const std::string id = task->task_id();
    session.ServerSends(stanza);
    EXPECT_EQ(ends.size(), c.taken ? 1u : 0u);
    // The connection itself is the one task that stays.
    EXPECT_EQ(session.runner.task_count(), c.taken ? 1u : 2u);
    if (c.taken) {
      // A second answer is nobody's.
      session.ServerSends("<iq type='result' id='" + id + "'/>");
      EXPECT_EQ(ends.size(), 1u);
    }
  }
}

TEST(RequestTaskTest, TimeOutEndsItOnlyWhenOneIsSet) {
  SignedInConnection session;
  std::vector<std::string> ends;
  auto* waits = new PingRequest(session.connection(), &ends);
  waits->Start();
  auto* gives_up = new PingRequest(session.connection(), &ends);
  gives_up->SetTimeout(0);
  gives_up->Start();
  session.Pump();
  session.runner.PollTasks();
  session.Pump();
  EXPECT_EQ(ends, std::vector<std::string>{"timeout"});
  EXPECT_EQ(session.runner.task_count(), 2u);
}

TEST(RequestTaskTest, NothingToSendEndsItAtOnce) {
  SignedInConnection session;
  std::vector<std::string> ends;
  (new PingRequest(session.connection(), &ends, true))->Start();
  session.Pump();
  EXPECT_EQ(session.TakeSent(), "");
  EXPECT_TRUE(ends.empty());
  EXPECT_EQ(session.runner.task_count(), 1u);
}

}  // namespace
}  // namespace vexalo
