#pragma once

#include <ctime>
#include <memory>

#include "xmpp/presence/presencestatus.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Sends the user's presence once. The stanza is built by SetStatus before start.
class PresenceOutTask : public StanzaTask {
 public:
  explicit PresenceOutTask(StepTaskParent* parent);

  // kBadState once the presence went out.
  EngineResult SetStatus(const PresenceStatus& status);

  int ProcessStart() override;

  // The presence for `status`, stamped with `now` (UTC).
  static std::unique_ptr<XmlElem> MakePresence(const PresenceStatus& status, std::time_t now);

 private:
  std::unique_ptr<XmlElem> stanza_;
  bool sent_ = false;
};

}  // namespace vexalo
