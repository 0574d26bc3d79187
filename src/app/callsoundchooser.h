#pragma once

#include <cstdint>

namespace vexalo {

struct Settings;

// Which call sound plays when a contact's call-user state changes, given who holds the call
// focus and the user's note settings.
class CallSoundChooser {
 public:
  enum class Focus { kNobody, kThisContact, kAnotherContact };
  static int Choose(int32_t state, Focus focus, const Settings& settings);
};

}  // namespace vexalo
