#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "base/runtime/signal.h"
#include "base/runtime/steptask.h"
#include "xml/xmlelem.h"
#include "xmpp/stream/streamengine.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

class XmppConnection;

// A protocol service running below an XmppConnection: it sends stanzas, is offered incoming
// ones at its handler level, and queues those it accepts to work through in its Process. It
// ends with an error when the connection goes.
class StanzaTask : public StepTask, public StanzaHandler, public SlotHost {
 public:
  // `parent` must be the connection or one of its descendants.
  StanzaTask(StepTaskParent* parent, HandlerLevel level);
  ~StanzaTask() override;

  // Default: not interested. Services accept theirs, usually by QueueStanza.
  bool HandleStanza(const XmlElem& stanza) override;
  void Stop() override;

  // Null after the connection went.
  XmppConnection* connection() const { return connection_; }
  const std::string& task_id() const { return task_id_; }

  static std::unique_ptr<XmlElem> MakeIq(std::string_view type, const XmppAddress& to,
                                         std::string_view id);
  static std::unique_ptr<XmlElem> MakeIqResult(const XmlElem& request);
  static bool MatchRequestIq(const XmlElem& stanza, std::string_view type,
                             const XmlName& child_name);
  // Whether `stanza` answers a request with `id` sent to `to` (kEmptyAddress: our own
  // server). `bound` is our own address.
  static bool MatchResponseIq(const XmlElem& stanza, const XmppAddress& to, std::string_view id,
                              const XmppAddress& bound);
  bool MatchResponseIq(const XmlElem& stanza, const XmppAddress& to, std::string_view id) const;

 protected:
  // Keeps a copy and wakes the task.
  void QueueStanza(const XmlElem& stanza);
  // The oldest queued stanza, owned by the task until the next call; null when none.
  const XmlElem* NextStanza();
  EngineResult SendStanza(const XmlElem& stanza);
  EngineResult SendStanzaError(const XmlElem& request, StanzaErrorCondition condition,
                               std::string_view text);
  const XmppAddress& BoundAddress() const;

 private:
  void OnDisconnected();
  void Detach();

  XmppConnection* connection_ = nullptr;
  std::string task_id_;
  std::deque<std::unique_ptr<XmlElem>> queue_;
  std::unique_ptr<XmlElem> current_;
};

}  // namespace vexalo
