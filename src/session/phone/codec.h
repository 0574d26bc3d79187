#pragma once

#include <string>

namespace vexalo {

// One codec of a phone description: its RTP payload type as on the wire, its name, and how
// much we like it (higher is better).
struct Codec {
  int id = 0;
  std::string name;
  int preference = 0;

  bool operator==(const Codec& other) const = default;
};

}  // namespace vexalo
