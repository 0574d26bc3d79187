#include "session/phone/codecpreference.h"

#include <array>
#include <utility>

namespace vexalo {

int CodecPreference(std::string_view name) {
  // "opus" is ours: above every other name, so two of our clients use it while negotiation
  // still only picks what both sides list.
  static constexpr std::array<std::pair<std::string_view, int>, 12> kTable = {{
      {"opus", 8},
      {"ISAC", 7},
      {"IPCMWB", 6},
      {"G723", 4},
      {"EG711U", 3},
      {"EG711A", 3},
      {"PCMU", 2},
      {"PCMA", 2},
      {"CN", 2},
      {"iLBC", 1},
      {"red", -1},
      {"audio/telephone-event", -1},
  }};
  for (const auto& [listed, preference] : kTable) {
    if (listed == name) return preference;
  }
  return -1;
}

}  // namespace vexalo
