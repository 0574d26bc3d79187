#pragma once

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"
#include "xmpp/server/usersetting.h"

namespace vexalo {

// Writes the user's server-side settings once and ends on the answer.
class SettingsSetTask : public StanzaTask {
 public:
  SettingsSetTask(StepTaskParent* parent, const UserSettingChanges& changes);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;

  // True when the server accepted the settings, false on an error answer.
  Signal<bool> SignalDone;

 private:
  UserSettingChanges changes_;
};

}  // namespace vexalo
