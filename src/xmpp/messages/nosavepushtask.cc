#include "xmpp/messages/nosavepushtask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

NoSavePushTask::NoSavePushTask(StepTaskParent* parent) : StanzaTask(parent, kLevelThird) {}

bool NoSavePushTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchRequestIq(stanza, kStrSet, kQnNoSaveQuery)) return false;
  // Only our own server speaks for the account; anybody else's "push" is left unhandled (and
  // answered with an error by the engine).
  if (stanza.HasAttribute(kQnFrom)) {
    const XmppAddress from(stanza.GetAttribute(kQnFrom));
    const XmppAddress& bound = BoundAddress();
    if (from != bound.WithoutResource() && from != XmppAddress("", bound.DomainPart(), "")) {
      return false;
    }
  }
  // The acknowledgement carries an empty roster query; the server expects exactly that.
  std::unique_ptr<XmlElem> ack = MakeIqResult(stanza);
  ack->AppendChild(std::make_unique<XmlElem>(kQnRosterQuery, true));
  SendStanza(*ack);
  QueueStanza(stanza);
  return true;
}

int NoSavePushTask::ProcessStart() {
  while (const XmlElem* push = NextStanza()) {
    const XmlElem* item = push->FindChild(kQnNoSaveQuery)->FindChild(kQnNoSaveItem);
    if (item == nullptr) continue;
    NoSaveEntry entry;
    entry.contact = XmppAddress(item->GetAttribute(kQnJid));
    if (!entry.contact.IsValid()) continue;
    entry.source =
        item->HasAttribute(kQnSource) ? XmppAddress(item->GetAttribute(kQnSource)) : kEmptyAddress;
    entry.enabled = item->GetAttribute(kQnValue) == kNoSaveEnabled;
    SignalNoSave(entry);
  }
  return STATE_BLOCKED;
}

}  // namespace vexalo
