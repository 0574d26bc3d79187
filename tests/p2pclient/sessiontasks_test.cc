// The session client on an XMPP connection: incoming session iqs are taken and answered,
// answers to ours are matched by id and sender, and an error answer ends the session.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "p2p/client/sessionreceivetask.h"
#include "p2p/client/sessionsendtask.h"
#include "p2p/client/sessionstack.h"
#include "p2p/client/xmldescription.h"
#include "p2p/client/xmldescriptionformat.h"
#include "p2p/virtualqueue.h"
#include "support/loopbackallocator.h"
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

const std::string kNs = "http://example.test/session";
const std::string kTestNs = "http://example.test/session/test";

class SessionTasksTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    stack_ = std::make_unique<SessionStack>(signed_in_.connection(), &allocator_, &worker_);
    client_ = std::make_unique<SessionClient>(stack_->registry(), kNs, &format_,
                                              stack_->local_jid());
    stack_->AddClient(client_.get());
    signed_in_.TakeSent();
  }
  void TearDown() override {
    client_.reset();
    stack_.reset();
  }
  // Starts a session to Bob and returns the id the initiate went out with.
  std::string Initiate(Session** session) {
    *session = client_->CreateSession();
    (*session)->Initiate("bob@example.net/b", std::make_shared<XmlDescription>(XmlElem(
                                                  XmlName(kTestNs, "description"), true)));
    const std::string sent = signed_in_.TakeSent();
    EXPECT_NE(sent.find("type=\"initiate\""), std::string::npos) << sent;
    const size_t at = sent.find("id=\"");
    return sent.substr(at + 4, sent.find('"', at + 4) - at - 4);
  }

  SignedInConnection signed_in_;
  VirtualQueue worker_;
  LoopbackAllocator allocator_{&worker_};
  XmlDescriptionFormat format_{kTestNs};
  std::unique_ptr<SessionStack> stack_;
  std::unique_ptr<SessionClient> client_;
};

TEST_F(SessionTasksTest, IncomingIqIsTakenAndAnsweredAsResult) {
  signed_in_.ServerSends(
      "<iq type='set' id='in1' from='bob@example.net/b' to='alice@example.net/desk'>"
      "<session xmlns='" + kNs + "' type='initiate' id='5' initiator='bob@example.net/b'>"
      "<description xmlns='" + kTestNs + "'/></session></iq>");
  EXPECT_EQ(stack_->registry()->session_count(), 1u);
  const std::string sent = signed_in_.TakeSent();
  EXPECT_NE(sent.find("<iq to=\"bob@example.net/b\" id=\"in1\" type=\"result\"/>"),
            std::string::npos)
      << sent;
}

TEST_F(SessionTasksTest, AnswerFromAnotherSenderIsNotTaken) {
  Session* session = nullptr;
  const std::string id = Initiate(&session);
  // Someone else answers with the right id: not the peer's answer, left alone.
  signed_in_.ServerSends("<iq type='error' id='" + id + "' from='mallory@example.net/m'/>");
  EXPECT_EQ(stack_->registry()->session_count(), 1u);
  EXPECT_EQ(session->error(), Session::ERROR_NONE);
  // The peer's error ends the session (a terminate goes out).
  signed_in_.ServerSends("<iq type='error' id='" + id + "' from='bob@example.net/b'/>");
  signed_in_.Pump();
  EXPECT_EQ(stack_->registry()->session_count(), 0u);
  EXPECT_NE(signed_in_.TakeSent().find("type=\"terminate\""), std::string::npos);
}

TEST_F(SessionTasksTest, ResultChangesNothing) {
  Session* session = nullptr;
  const std::string id = Initiate(&session);
  signed_in_.ServerSends("<iq type='result' id='" + id + "' from='bob@example.net/b'/>");
  EXPECT_EQ(session->state(), Session::STATE_SENTINITIATE);
  EXPECT_EQ(session->error(), Session::ERROR_NONE);
}

TEST_F(SessionTasksTest, StackStopsWithTheConnection) {
  Session* session = nullptr;
  Initiate(&session);
  XmppConnection* connection = signed_in_.connection();
  ASSERT_NE(connection, nullptr);
  connection->engine()->Disconnect();
  signed_in_.Pump();
  EXPECT_FALSE(stack_->running());
  EXPECT_EQ(stack_->registry()->session_count(), 0u);
}

}  // namespace
}  // namespace vexalo
