#include "app/avatarrequest.h"

namespace vexalo {

void AvatarRequest::Stop() {
  VCardGetTask::Stop();
  SignalEnded();
}

}  // namespace vexalo
