#include "p2p/base/randomgenerator.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/runtime/logging.h"

namespace vexalo {

void RandomGenerator::Fill(void* buffer, size_t size) {
  // Every check draws a transaction id: take the kernel's bytes a block at a time instead of
  // one system call each. Each byte is handed out once.
  thread_local unsigned char pool[kPoolSize];
  thread_local size_t pool_left = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    if (pool_left == 0) {
      FillFromKernel(pool, kPoolSize);
      pool_left = kPoolSize;
    }
    const size_t take = size < pool_left ? size : pool_left;
    unsigned char* from = pool + (kPoolSize - pool_left);
    std::memcpy(out, from, take);
    std::memset(from, 0, take);
    pool_left -= take;
    out += take;
    size -= take;
  }
}

void RandomGenerator::FillFromKernel(void* buffer, size_t size) {
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
