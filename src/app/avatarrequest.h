#pragma once

#include "base/runtime/signal.h"
#include "xmpp/vcard/vcardgettask.h"

namespace vexalo {

// A vCard request that also says when it ended, answered or not, so that the one who asked
// can count a failure and allow the next request for the contact.
class AvatarRequest : public VCardGetTask {
 public:
  using VCardGetTask::VCardGetTask;

  void Stop() override;

  Signal<> SignalEnded;
};

}  // namespace vexalo
