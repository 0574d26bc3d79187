#pragma once

#include <cstdint>

namespace vexalo {

// Where a contact stands with the user as far as calls go; the contact list and the chat
// window show it. The numbers are part of the interface.
enum CallUserState : int32_t {
  CUS_NOT_CALLABLE = 0,
  CUS_CALLABLE = 1,
  CUS_INCOMING_RING = 2,
  CUS_OUTGOING_RING = 3,
  CUS_ACTIVE_CALL = 4,
  CUS_CALL_ON_HOLD = 5,
  CUS_CALL_ON_MUTE = 6,
};

// "CUS_ACTIVE_CALL", ...; "unknown" for other values.
const char* CallUserStateName(int32_t state);

}  // namespace vexalo
