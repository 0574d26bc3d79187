#pragma once

#include <string>

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"
#include "xmpp/server/usersetting.h"

namespace vexalo {

// Receives the settings that the server pushes when another of the user's clients changed
// them. Only our own server or account may push; a contact's push is left to the engine,
// which refuses it.
class SettingsPushTask : public StanzaTask {
 public:
  explicit SettingsPushTask(StepTaskParent* parent);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;

  Signal<const std::string&, UserSettingValue> SignalSetting;
};

}  // namespace vexalo
