#pragma once

#include <deque>
#include <memory>

#include "xmpp/stream/requesttask.h"
#include "xmpp/roster/rosteritem.h"

namespace vexalo {

// One roster change (names, groups, list modes, removals) in a single iq "set" with the
// service's extension. Items are added before the request goes out. Stanzas handed to
// SendAfterAnswer (subscription presences that must follow the change) are sent in order
// once the server answered, whatever the answer; the outcome is not reported.
class RosterSetTask : public RequestTask {
 public:
  explicit RosterSetTask(StepTaskParent* parent);

  // kBadState once the request went out.
  EngineResult AddItem(const RosterItem& item);
  EngineResult RemoveItem(const XmppAddress& address);
  void SendAfterAnswer(const XmlElem& stanza);

  const XmlElem& query() const { return *query_; }

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  void ReadAnswer(const XmlElem& answer) override;

 private:
  std::unique_ptr<XmlElem> query_;
  std::deque<std::unique_ptr<XmlElem>> follow_ups_;
};

}  // namespace vexalo
