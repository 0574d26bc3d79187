#include "p2p/client/portallocator.h"

namespace vexalo {

void PortAllocator::NoteWritablePhase(int phase) {
  if (best_phase_ == -1 || phase < best_phase_) best_phase_ = phase;
}

}  // namespace vexalo
