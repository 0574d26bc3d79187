#pragma once

#include <memory>

#include "base/runtime/signal.h"
#include "xmpp/stream/requesttask.h"
#include "xmpp/server/usersetting.h"

namespace vexalo {

// Writes the user's server-side settings once and ends on the answer.
class SettingsSetTask : public RequestTask {
 public:
  SettingsSetTask(StepTaskParent* parent, const UserSettingChanges& changes);

  // True when the server accepted the settings, false on an error answer.
  Signal<bool> SignalDone;

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  XmppAddress Addressee() const override { return BoundAddress().WithoutResource(); }
  void ReadAnswer(const XmlElem& answer) override;

 private:
  UserSettingChanges changes_;
};

}  // namespace vexalo
