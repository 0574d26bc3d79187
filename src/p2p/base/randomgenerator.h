#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexalo {

// The process-wide source of port credentials, transaction ids and session ids. They must not
// be guessable by anyone who watches the traffic, so every value comes from the kernel's
// cryptographically strong generator; there is nothing to seed.
class RandomGenerator {
 public:
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

  // `length` characters drawn uniformly from kAlphabet.
  static std::string RandomString(size_t length);
  static uint32_t Random32();

 private:
  static constexpr size_t kPoolSize = 256;
  static void Fill(void* buffer, size_t size);
  static void FillFromKernel(void* buffer, size_t size);
};

}  // namespace vexalo
