#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct evp_md_ctx_st;

namespace vexalo {

// An incremental SHA-256, for checking files as their bytes stream past.
class Sha256Digest {
 public:
  Sha256Digest();
  ~Sha256Digest();
  Sha256Digest(const Sha256Digest&) = delete;
  Sha256Digest& operator=(const Sha256Digest&) = delete;

  void Update(const void* data, size_t size);
  // 64 lower-case hex digits; the digest cannot be updated afterwards.
  std::string FinishHex();

  // The hash and size of a whole file; false when it cannot be read.
  static bool OfFile(const std::string& path, std::string* hex, uint64_t* size);

 private:
  evp_md_ctx_st* context_;
};

}  // namespace vexalo
