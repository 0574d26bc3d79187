#pragma once

#include <cstdint>
#include <string>

namespace vexalo {

// The file a file-transfer tunnel carries, as its offer names it. The name is the sender's
// word only: a receiver reduces it to a plain file name before using it.
struct FileOffer {
  std::string name;
  uint64_t size = 0;
  std::string sha256;  // 64 lower-case hex digits
};

}  // namespace vexalo
