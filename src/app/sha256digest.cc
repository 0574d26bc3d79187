#include "app/sha256digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

namespace vexalo {

Sha256Digest::Sha256Digest() : context_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context_, EVP_sha256(), nullptr); }

Sha256Digest::~Sha256Digest() { EVP_MD_CTX_free(context_); }

void Sha256Digest::Update(const void* data, size_t size) { EVP_DigestUpdate(context_, data, size); }

std::string Sha256Digest::FinishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_, digest, &length);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 15]);
  }
  return hex;
}

bool Sha256Digest::OfFile(const std::string& path, std::string* hex, uint64_t* size) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(path.c_str(), "rb"), fclose);
  if (!file) return false;
  Sha256Digest digest;
  uint64_t total = 0;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    digest.Update(buffer, n);
    total += n;
  }
  if (ferror(file.get())) return false;
  *hex = digest.FinishHex();
  *size = total;
  return true;
}

}  // namespace vexalo
