#include "app/calluserstate.h"

namespace vexalo {

const char* CallUserStateName(int32_t state) {
  switch (state) {
    case CUS_NOT_CALLABLE: return "CUS_NOT_CALLABLE";
    case CUS_CALLABLE: return "CUS_CALLABLE";
    case CUS_INCOMING_RING: return "CUS_INCOMING_RING";
    case CUS_OUTGOING_RING: return "CUS_OUTGOING_RING";
    case CUS_ACTIVE_CALL: return "CUS_ACTIVE_CALL";
    case CUS_CALL_ON_HOLD: return "CUS_CALL_ON_HOLD";
    case CUS_CALL_ON_MUTE: return "CUS_CALL_ON_MUTE";
    default: return "unknown";
  }
}

}  // namespace vexalo
