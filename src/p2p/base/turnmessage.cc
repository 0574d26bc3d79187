#include "p2p/base/turnmessage.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>

namespace vexalo {

namespace {

void PutU16(std::string* out, uint16_t value) {
  out->push_back(static_cast<char>(value >> 8));
  out->push_back(static_cast<char>(value & 0xFF));
}

void PutU32(std::string* out, uint32_t value) {
  PutU16(out, static_cast<uint16_t>(value >> 16));
  PutU16(out, static_cast<uint16_t>(value & 0xFFFF));
}

uint16_t GetU16(const char* p) {
  return static_cast<uint16_t>((static_cast<uint8_t>(p[0]) << 8) | static_cast<uint8_t>(p[1]));
}

uint32_t GetU32(const char* p) {
  return (static_cast<uint32_t>(GetU16(p)) << 16) | GetU16(p + 2);
}

constexpr size_t kIntegritySize = 20;

std::string Hmac(const std::string& key, const char* data, size_t size) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(data), size, digest, &length);
  return std::string(reinterpret_cast<char*>(digest), length);
}

}  // namespace

void TurnMessage::AddU32(uint16_t type, uint32_t value) {
  std::string bytes;
  PutU32(&bytes, value);
  Add(type, bytes);
}

void TurnMessage::AddXorAddress(uint16_t type, const SocketAddress& address) {
  std::string bytes;
  PutU16(&bytes, 1);  // IPv4
  PutU16(&bytes, static_cast<uint16_t>(address.port() ^ (kMagicCookie >> 16)));
  PutU32(&bytes, address.ip() ^ kMagicCookie);
  Add(type, bytes);
}

const std::string* TurnMessage::Find(uint16_t type) const {
  for (const auto& [t, value] : attrs_) {
    if (t == type) return &value;
  }
  return nullptr;
}

bool TurnMessage::FindXorAddress(uint16_t type, SocketAddress* out) const {
  const std::string* value = Find(type);
  if (!value || value->size() != 8 || (*value)[1] != 1) return false;
  const uint16_t port = static_cast<uint16_t>(GetU16(value->data() + 2) ^ (kMagicCookie >> 16));
  *out = SocketAddress(GetU32(value->data() + 4) ^ kMagicCookie, port);
  return true;
}

int TurnMessage::ErrorCode() const {
  const std::string* value = Find(kErrorCode);
  if (!value || value->size() < 4) return 0;
  return (static_cast<uint8_t>((*value)[2]) & 0x7) * 100 + static_cast<uint8_t>((*value)[3]);
}

std::string TurnMessage::Serialize(const std::string& key) const {
  std::string out;
  PutU16(&out, type_);
  PutU16(&out, 0);
  PutU32(&out, kMagicCookie);
  out += transaction_id_;
  for (const auto& [type, value] : attrs_) {
    PutU16(&out, type);
    PutU16(&out, static_cast<uint16_t>(value.size()));
    out += value;
    out.append((4 - value.size() % 4) % 4, '\0');
  }
  if (!key.empty()) {
    // The length counts the integrity attribute itself while the hash covers what precedes.
    const size_t length = out.size() - kHeaderSize + 4 + kIntegritySize;
    out[2] = static_cast<char>(length >> 8);
    out[3] = static_cast<char>(length & 0xFF);
    const std::string mac = Hmac(key, out.data(), out.size());
    PutU16(&out, kMessageIntegrity);
    PutU16(&out, kIntegritySize);
    out += mac;
  }
  const size_t length = out.size() - kHeaderSize;
  out[2] = static_cast<char>(length >> 8);
  out[3] = static_cast<char>(length & 0xFF);
  return out;
}

bool TurnMessage::Parse(const char* data, size_t size) {
  if (size < kHeaderSize || (static_cast<uint8_t>(data[0]) & 0xC0) != 0) return false;
  const size_t length = GetU16(data + 2);
  if (length % 4 != 0 || kHeaderSize + length != size || GetU32(data + 4) != kMagicCookie) {
    return false;
  }
  type_ = GetU16(data);
  transaction_id_.assign(data + 8, 12);
  attrs_.clear();
  size_t at = kHeaderSize;
  while (at < size) {
    if (size - at < 4 || attrs_.size() >= kMaxAttributes) return false;
    const uint16_t type = GetU16(data + at);
    const size_t value_length = GetU16(data + at + 2);
    const size_t padded = value_length + (4 - value_length % 4) % 4;
    if (size - at - 4 < padded) return false;
    attrs_.emplace_back(type, std::string(data + at + 4, value_length));
    at += 4 + padded;
  }
  return true;
}

bool TurnMessage::CheckIntegrity(const char* raw, size_t size, const std::string& key) {
  size_t at = kHeaderSize;
  while (at + 4 <= size) {
    const uint16_t type = GetU16(raw + at);
    const size_t value_length = GetU16(raw + at + 2);
    if (type == kMessageIntegrity) {
      if (value_length != kIntegritySize || at + 4 + kIntegritySize > size) return false;
      std::string covered(raw, at);
      const size_t length = at - kHeaderSize + 4 + kIntegritySize;
      covered[2] = static_cast<char>(length >> 8);
      covered[3] = static_cast<char>(length & 0xFF);
      const std::string mac = Hmac(key, covered.data(), covered.size());
      return std::memcmp(mac.data(), raw + at + 4, kIntegritySize) == 0;
    }
    at += 4 + value_length + (4 - value_length % 4) % 4;
  }
  return false;
}

std::string TurnMessage::LongTermKey(const std::string& username, const std::string& realm,
                                     const std::string& password) {
  const std::string text = username + ":" + realm + ":" + password;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), length);
}

}  // namespace vexalo
