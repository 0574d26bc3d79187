#pragma once

#include "base/runtime/signal.h"
#include "xmpp/roster/rosteritem.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

class RosterQueryTask;

// The roster service for the life of the connection: reads roster results (fetched by
// Refresh) and pushes from our own server, and the subscription presences of contacts, and
// reports them through its signals. Deciding what to do with them is the application's.
class RosterTask : public StanzaTask {
 public:
  explicit RosterTask(StepTaskParent* parent);

  // Fetches the whole roster (with the service's extension) in a child task; the result is
  // reported between SignalRosterBegin and SignalRosterEnd.
  void Refresh();

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;

  Signal<const RosterItem&> SignalItemUpdated;
  Signal<const RosterItem&> SignalItemRemoved;
  Signal<> SignalRosterBegin;
  Signal<> SignalRosterEnd;
  Signal<const XmppAddress&> SignalSubscribe;
  Signal<const XmppAddress&> SignalUnsubscribe;
  Signal<const XmppAddress&> SignalSubscribed;
  Signal<const XmppAddress&> SignalUnsubscribed;

 private:
  friend class RosterQueryTask;

  // Takes a roster result fetched by a query child.
  void TakeResult(const XmlElem& result) { QueueStanza(result); }
  void ProcessIq(const XmlElem& iq);
  void ProcessPresence(const XmlElem& presence);
};

}  // namespace vexalo
