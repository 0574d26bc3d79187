#include "support/signedinconnection.h"

#include <gtest/gtest.h>

#include "xmpp/stream/constants.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {
namespace {

// Echoes every message back to its sender, to show the transcript fixture end to end.
class EchoService : public StanzaTask {
 public:
  explicit EchoService(StepTaskParent* parent) : StanzaTask(parent, kLevelThird) {}
  bool HandleStanza(const XmlElem& stanza) override {
    if (stanza.Name() != kQnMessage) return false;
    QueueStanza(stanza);
    return true;
  }
  int ProcessStart() override {
    while (const XmlElem* message = NextStanza()) {
      XmlElem echo(kQnMessage);
      echo.AppendAttribute(kQnTo, message->GetAttribute(kQnFrom));
      echo.AppendChild(std::make_unique<XmlElem>(kQnBody))->AppendText(message->ChildText(kQnBody));
      SendStanza(echo);
    }
    return STATE_BLOCKED;
  }
};

TEST(SignedInConnectionTest, ServicesSeeInjectedStanzasAndTheirAnswersAreRecorded) {
  SignedInConnection session;
  ASSERT_TRUE(session.open());
  EXPECT_EQ(session.connection()->GetBoundAddress().ToString(), "alice@example.net/desk");
  auto* echo = new EchoService(session.connection());
  echo->Start();
  session.ServerSends("<message from='bob@example.net/x'><body>ping</body></message>");
  EXPECT_EQ(session.TakeSent(), "<message to=\"bob@example.net/x\"><body>ping</body></message>");
}

}  // namespace
}  // namespace vexalo
