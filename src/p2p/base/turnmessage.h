#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/net/socketaddress.h"

namespace vexalo {

// A message in the standard STUN layout that TURN servers speak (magic cookie in the header,
// 12-byte transaction id, padded attributes, XOR-ed addresses, MESSAGE-INTEGRITY with
// long-term credentials). Kept apart from StunPacket, which is the classic layout the
// system's own peers use.
class TurnMessage {
 public:
  static constexpr uint32_t kMagicCookie = 0x2112A442;
  static constexpr size_t kHeaderSize = 20;
  static constexpr size_t kMaxAttributes = 64;

  // Methods and classes.
  static constexpr uint16_t kAllocate = 0x0003;
  static constexpr uint16_t kRefresh = 0x0004;
  static constexpr uint16_t kSend = 0x0006;
  static constexpr uint16_t kData = 0x0007;
  static constexpr uint16_t kCreatePermission = 0x0008;
  static constexpr uint16_t kIndication = 0x0010;
  static constexpr uint16_t kSuccess = 0x0100;
  static constexpr uint16_t kError = 0x0110;

  // Attributes.
  static constexpr uint16_t kUsername = 0x0006;
  static constexpr uint16_t kMessageIntegrity = 0x0008;
  static constexpr uint16_t kErrorCode = 0x0009;
  static constexpr uint16_t kLifetime = 0x000D;
  static constexpr uint16_t kXorPeerAddress = 0x0012;
  static constexpr uint16_t kData_ = 0x0013;
  static constexpr uint16_t kRealm = 0x0014;
  static constexpr uint16_t kNonce = 0x0015;
  static constexpr uint16_t kXorRelayedAddress = 0x0016;
  static constexpr uint16_t kRequestedTransport = 0x0019;
  static constexpr uint16_t kXorMappedAddress = 0x0020;

  TurnMessage() = default;
  TurnMessage(uint16_t type, std::string transaction_id)
      : type_(type), transaction_id_(std::move(transaction_id)) {}

  uint16_t type() const { return type_; }
  uint16_t method() const { return type_ & 0x3EEF; }
  const std::string& transaction_id() const { return transaction_id_; }

  void Add(uint16_t type, std::string_view value) { attrs_.emplace_back(type, value); }
  void AddU32(uint16_t type, uint32_t value);
  void AddXorAddress(uint16_t type, const SocketAddress& address);
  // The value of the first attribute of the type, or null.
  const std::string* Find(uint16_t type) const;
  // False when missing or not an IPv4 address.
  bool FindXorAddress(uint16_t type, SocketAddress* out) const;
  // 0 when there is none.
  int ErrorCode() const;

  // With a key, MESSAGE-INTEGRITY ends the message.
  std::string Serialize(const std::string& key = std::string()) const;
  // False for anything that is not a well-formed message of this layout.
  bool Parse(const char* data, size_t size);
  // Whether the MESSAGE-INTEGRITY of `raw` (the bytes Parse read) matches `key`.
  static bool CheckIntegrity(const char* raw, size_t size, const std::string& key);
  // MD5(username:realm:password), the long-term credential key.
  static std::string LongTermKey(const std::string& username, const std::string& realm,
                                 const std::string& password);

 private:
  uint16_t type_ = 0;
  std::string transaction_id_;
  std::vector<std::pair<uint16_t, std::string>> attrs_;
};

}  // namespace vexalo
