#pragma once

#include "xmpp/stream/stanzatask.h"

namespace vexalo {

class RelayInfoTask;

// One "ombrix:relayinfo" request of a RelayInfoTask; hands the answer to it.
class RelayInfoRequestTask : public StanzaTask {
 public:
  explicit RelayInfoRequestTask(RelayInfoTask* parent);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;

 private:
  RelayInfoTask* owner_;
};

}  // namespace vexalo
