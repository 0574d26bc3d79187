#pragma once

#include <memory>

#include "p2p/client/sessionclient.h"
#include "xmpp/stream/requesttask.h"

namespace vexalo {

// Sends one session iq and reports its answer to the session client: a result to
// OnResponse, an error or no answer within 15 s to OnFailedSend.
class SessionSendTask : public RequestTask {
 public:
  static constexpr int64_t kTimeout100ns = 150000000;

  SessionSendTask(StepTaskParent* parent, SessionClient* client, const XmlElem& stanza);

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  XmppAddress Addressee() const override { return to_; }
  bool FromAddressee(const XmlElem& stanza) const override;
  void ReadAnswer(const XmlElem& answer) override;
  void OnTimeout() override;

 private:
  // The iq as it went out, with the task's id.
  XmlElem Sent() const;

  SessionClient* client_;
  XmlElem stanza_;
  XmppAddress to_;
};

}  // namespace vexalo
