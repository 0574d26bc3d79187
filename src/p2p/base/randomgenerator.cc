#include "p2p/base/randomgenerator.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

#include "base/logging.h"

namespace vexalo {

void RandomGenerator::Fill(void* buffer, size_t size) {
  auto* out = static_cast<char*>(buffer);
  while (size > 0) {
    ssize_t got = getrandom(out, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      // Predictable credentials would let anyone on the path take over a call: never go on.
      LOG_ERRNO(kError) << "getrandom";
      abort();
    }
    out += got;
    size -= static_cast<size_t>(got);
  }
}

std::string RandomGenerator::RandomString(size_t length) {
  std::string text(length, '\0');
  Fill(text.data(), length);
  // 64 symbols: the low six bits of a uniform byte pick one uniformly.
  for (char& c : text) c = kAlphabet[static_cast<unsigned char>(c) & 63];
  return text;
}

uint32_t RandomGenerator::Random32() {
  uint32_t value;
  Fill(&value, sizeof(value));
  return value;
}

}  // namespace vexalo
