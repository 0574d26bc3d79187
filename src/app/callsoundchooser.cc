#include "app/callsoundchooser.h"

#include "app/calluserstate.h"
#include "app/settings.h"
#include "voice/soundclip.h"

namespace vexalo {

int CallSoundChooser::Choose(int32_t state, Focus focus, const Settings& settings) {
  if (focus == Focus::kAnotherContact) {
    return state == CUS_INCOMING_RING ? kSoundCallWaiting : kSoundNone;
  }
  if (focus == Focus::kThisContact) return kSoundNone;
  if (state == CUS_INCOMING_RING) return settings.CallRingOn() ? kSoundIncomingRing : kSoundNone;
  if (state == CUS_OUTGOING_RING) return kSoundRingBack;
  return kSoundNone;
}

}  // namespace vexalo
