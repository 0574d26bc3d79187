#pragma once

#include <string_view>

namespace vexalo {

// How much a codec name is preferred in offers and answers; -1 for names not listed.
int CodecPreference(std::string_view name);

}  // namespace vexalo
