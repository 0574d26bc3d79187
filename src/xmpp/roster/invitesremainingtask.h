#pragma once

#include <cstdint>

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Asks the service how many invitations the user has left. Reports a readable count once;
// an error answer, an answer without a count, or no answer within the time limit ends it
// silently.
class InvitesRemainingTask : public StanzaTask {
 public:
  // 15 seconds, in the runner's 100-ns units.
  static constexpr int64_t kDefaultTimeout = 150'000'000;
  // Counts beyond this are not believable and are ignored.
  static constexpr int32_t kMaxInvites = 1'000'000;

  explicit InvitesRemainingTask(StepTaskParent* parent);

  void set_timeout(int64_t timeout) { timeout_ = timeout; }

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;
  void Poll() override;

  Signal<int32_t> SignalInvitesRemaining;

 private:
  int64_t timeout_ = kDefaultTimeout;
  bool timed_out_ = false;
};

}  // namespace vexalo
