#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexalo {

// Bytes that never repeat in a short period (xorshift), so a stream that is cut, shifted or
// reordered never compares equal by chance.
inline std::string BytePattern(size_t size, uint32_t seed = 2463534242u) {
  std::string data(size, '\0');
  uint32_t x = seed ? seed : 1;
  for (char& c : data) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x);
  }
  return data;
}

}  // namespace vexalo
