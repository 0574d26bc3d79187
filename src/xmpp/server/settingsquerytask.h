#pragma once

#include <string>

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"
#include "xmpp/server/usersetting.h"

namespace vexalo {

// Reads the user's server-side settings once. A server without the service (an error
// answer) reports nothing.
class SettingsQueryTask : public StanzaTask {
 public:
  explicit SettingsQueryTask(StepTaskParent* parent);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;

  // (setting name, value) for each setting of the answer.
  Signal<const std::string&, UserSettingValue> SignalSetting;
};

}  // namespace vexalo
