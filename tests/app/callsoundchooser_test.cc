#include "app/callsoundchooser.h"

#include <gtest/gtest.h>

#include "app/calluserstate.h"
#include "app/settings.h"
#include "voice/soundclip.h"

namespace vexalo {
namespace {

using Focus = CallSoundChooser::Focus;

TEST(CallSoundChooserTest, SoundFollowsStateFocusAndNoteSettings) {
  Settings on;
  Settings ring_off;
  ring_off.call_ring = 0;
  Settings notes_off;
  notes_off.note_disabled = 1;
  struct Case {
    int32_t state;
    Focus focus;
    const Settings* settings;
    int sound;
  };
  for (const Case& c : {
           Case{CUS_INCOMING_RING, Focus::kNobody, &on, kSoundIncomingRing},
           Case{CUS_INCOMING_RING, Focus::kNobody, &ring_off, kSoundNone},
           Case{CUS_INCOMING_RING, Focus::kNobody, &notes_off, kSoundNone},
           Case{CUS_OUTGOING_RING, Focus::kNobody, &on, kSoundRingBack},
           Case{CUS_OUTGOING_RING, Focus::kNobody, &notes_off, kSoundRingBack},
           Case{CUS_ACTIVE_CALL, Focus::kNobody, &on, kSoundNone},
           Case{CUS_CALLABLE, Focus::kNobody, &on, kSoundNone},
           // Another call has the focus: a second caller gets the waiting tone, even with
           // rings off, since the user is in a call.
           Case{CUS_INCOMING_RING, Focus::kAnotherContact, &ring_off, kSoundCallWaiting},
           Case{CUS_OUTGOING_RING, Focus::kAnotherContact, &on, kSoundNone},
           Case{CUS_INCOMING_RING, Focus::kThisContact, &on, kSoundNone},
           Case{CUS_OUTGOING_RING, Focus::kThisContact, &on, kSoundNone},
       }) {
    SCOPED_TRACE(std::to_string(c.state) + " focus " + std::to_string(static_cast<int>(c.focus)));
    EXPECT_EQ(CallSoundChooser::Choose(c.state, c.focus, *c.settings), c.sound);
  }
}

}  // namespace
}  // namespace vexalo
