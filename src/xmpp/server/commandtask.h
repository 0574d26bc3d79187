#pragma once

#include <string>

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// Receives the ad-hoc commands ("ombrix:commands" nodes) that the user's other clients send:
// start or end a call, mute, list calls, ask for call notifications, show a chat
// notification, locate this client. Every command iq is answered. Commands come only from
// our own account: a contact's "execute" is refused with "forbidden" and never reported.
class CommandTask : public StanzaTask {
 public:
  explicit CommandTask(StepTaskParent* parent);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;

  // (sender, node, the <command/> element, the reply about to be sent). Listeners may add to
  // the reply's <command/> (e.g. the list of calls) before it goes out.
  Signal<const XmppAddress&, const std::string&, const XmlElem&, XmlElem*> SignalCommand;

  // The reply's status attribute; the ad-hoc command protocol's unqualified "status".
  static const XmlName kQnStatusAttribute;

 private:
  void Answer(const XmlElem& request);
};

}  // namespace vexalo
