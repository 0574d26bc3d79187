#pragma once

#include <memory>
#include <string>

#include "base/runtime/signal.h"
#include "xmpp/stream/requesttask.h"
#include "xmpp/server/usersetting.h"

namespace vexalo {

// Reads the user's server-side settings once. A server without the service (an error
// answer) reports nothing.
class SettingsQueryTask : public RequestTask {
 public:
  explicit SettingsQueryTask(StepTaskParent* parent);

  // (setting name, value) for each setting of the answer.
  Signal<const std::string&, UserSettingValue> SignalSetting;

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  // Asked of our own bare address, so our server answers: from it or without a "from".
  XmppAddress Addressee() const override { return BoundAddress().WithoutResource(); }
  void ReadAnswer(const XmlElem& answer) override;
};

}  // namespace vexalo
