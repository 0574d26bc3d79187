#include "xmpp/roster/rostertask.h"

#include <memory>

#include "xmpp/stream/constants.h"
#include "xmpp/roster/rosterquerytask.h"
#include "xmpp/stream/serverpush.h"

namespace vexalo {
namespace {

bool IsSubscriptionType(const std::string& type) {
  return type == kStrSubscribe || type == kStrUnsubscribe || type == kStrSubscribed ||
         type == kStrUnsubscribed;
}

}  // namespace

RosterTask::RosterTask(StepTaskParent* parent) : StanzaTask(parent, kLevelThird) {}

void RosterTask::Refresh() {
  auto* query = new RosterQueryTask(this);
  query->Start();
}

bool RosterTask::HandleStanza(const XmlElem& stanza) {
  if (stanza.Name() == kQnIq) {
    if (!MatchRequestIq(stanza, kStrSet, kQnRosterQuery)) return false;
    // Only our own server may change our roster, and it sends pushes without "from" or from
    // our bare address; anything else is left unanswered here (the engine refuses it).
    if (!ServerPush::IsFromOwnBareAccount(stanza, BoundAddress())) return false;
    std::unique_ptr<XmlElem> ack = MakeIqResult(stanza);
    ack->AppendChild(std::make_unique<XmlElem>(kQnRosterQuery, true));
    SendStanza(*ack);
    QueueStanza(stanza);
    return true;
  }
  if (stanza.Name() == kQnPresence && stanza.HasAttribute(kQnType) &&
      IsSubscriptionType(stanza.GetAttribute(kQnType))) {
    QueueStanza(stanza);
    return true;
  }
  return false;
}

int RosterTask::ProcessStart() {
  while (const XmlElem* stanza = NextStanza()) {
    if (stanza->Name() == kQnIq) {
      ProcessIq(*stanza);
    } else {
      ProcessPresence(*stanza);
    }
    // A listener may have ended us (the application signing out).
    if (done() || aborted()) return STATE_DONE;
  }
  return STATE_BLOCKED;
}

void RosterTask::ProcessIq(const XmlElem& iq) {
  const bool result = iq.GetAttribute(kQnType) == kStrResult;
  if (result) SignalRosterBegin();
  if (const XmlElem* query = iq.FindChild(kQnRosterQuery)) {
    RosterItem item;
    for (const XmlElem* child = query->FindChild(kQnRosterItem); child != nullptr;
         child = child->FindNextSibling(kQnRosterItem)) {
      if (!RosterItem::Parse(*child, &item)) continue;
      if (item.subscription == RosterSubscription::kRemove) {
        SignalItemRemoved(item);
      } else {
        SignalItemUpdated(item);
      }
    }
  }
  if (result) SignalRosterEnd();
}

void RosterTask::ProcessPresence(const XmlElem& presence) {
  const XmppAddress from(presence.GetAttribute(kQnFrom));
  const std::string& type = presence.GetAttribute(kQnType);
  if (type == kStrSubscribe) {
    SignalSubscribe(from);
  } else if (type == kStrUnsubscribe) {
    SignalUnsubscribe(from);
  } else if (type == kStrSubscribed) {
    SignalSubscribed(from);
  } else if (type == kStrUnsubscribed) {
    SignalUnsubscribed(from);
  }
}

}  // namespace vexalo
