#pragma once

#include <cstdint>
#include <memory>

#include "base/runtime/signal.h"
#include "xmpp/stream/requesttask.h"

namespace vexalo {

// Asks the service how many invitations the user has left. Reports a readable count once;
// an error answer, an answer without a count, or no answer within the time limit ends it
// silently.
class InvitesRemainingTask : public RequestTask {
 public:
  // 15 seconds, in the runner's 100-ns units.
  static constexpr int64_t kDefaultTimeout = 150'000'000;
  // Counts beyond this are not believable and are ignored.
  static constexpr int32_t kMaxInvites = 1'000'000;

  explicit InvitesRemainingTask(StepTaskParent* parent);

  Signal<int32_t> SignalInvitesRemaining;

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  void ReadAnswer(const XmlElem& answer) override;
};

}  // namespace vexalo
