#include "xmpp/vcard/avatarhash.h"

#include <openssl/evp.h>

namespace vexalo {

std::string AvatarHash(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr) != 1 ||
      length != 20) {
    return std::string();
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hash;
  hash.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hash.push_back(kHex[digest[i] >> 4]);
    hash.push_back(kHex[digest[i] & 0x0F]);
  }
  return hash;
}

bool IsAvatarHash(std::string_view text) {
  if (text.size() != 40) return false;
  for (char c : text) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

std::string NormalizeAvatarHash(std::string_view text) {
  if (!IsAvatarHash(text)) return std::string();
  std::string hash(text);
  for (char& c : hash) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  }
  return hash;
}

}  // namespace vexalo
