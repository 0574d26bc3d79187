#pragma once

#include "xmpp/stream/stanzatask.h"

namespace vexalo {

class RosterTask;

// Fetches the roster once, asking for the service's extension attributes and for every item
// (hidden and blocked ones too), and hands the result to its RosterTask. A server that
// refuses (an error answer) ends it without a result.
class RosterQueryTask : public StanzaTask {
 public:
  explicit RosterQueryTask(RosterTask* parent);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;

  // The request's <query/>.
  static std::unique_ptr<XmlElem> MakeQuery();

 private:
  RosterTask* roster_;
  bool answered_ = false;
};

}  // namespace vexalo
