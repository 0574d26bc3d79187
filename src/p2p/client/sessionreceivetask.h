#pragma once

#include "p2p/client/sessionclient.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Takes every incoming session iq of one session client for as long as the connection lives
// and hands them to the client one by one.
class SessionReceiveTask : public StanzaTask {
 public:
  SessionReceiveTask(StepTaskParent* parent, SessionClient* client);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;

 private:
  SessionClient* client_;
};

}  // namespace vexalo
