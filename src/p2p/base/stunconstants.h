#pragma once

#include <cstdint>

namespace vexalo {

// Message types.
inline constexpr uint16_t STUN_BINDING_REQUEST = 0x0001;
inline constexpr uint16_t STUN_BINDING_RESPONSE = 0x0101;
inline constexpr uint16_t STUN_BINDING_ERROR_RESPONSE = 0x0111;
inline constexpr uint16_t STUN_SHARED_SECRET_REQUEST = 0x0002;
inline constexpr uint16_t STUN_SHARED_SECRET_RESPONSE = 0x0102;
inline constexpr uint16_t STUN_SHARED_SECRET_ERROR_RESPONSE = 0x0112;
inline constexpr uint16_t STUN_ALLOCATE_REQUEST = 0x0003;
inline constexpr uint16_t STUN_ALLOCATE_RESPONSE = 0x0103;
inline constexpr uint16_t STUN_ALLOCATE_ERROR_RESPONSE = 0x0113;
inline constexpr uint16_t STUN_SEND_REQUEST = 0x0004;
inline constexpr uint16_t STUN_SEND_RESPONSE = 0x0104;
inline constexpr uint16_t STUN_SEND_ERROR_RESPONSE = 0x0114;
inline constexpr uint16_t STUN_DATA_INDICATION = 0x0115;

// Attribute types.
inline constexpr uint16_t STUN_ATTR_MAPPED_ADDRESS = 0x0001;
inline constexpr uint16_t STUN_ATTR_RESPONSE_ADDRESS = 0x0002;
inline constexpr uint16_t STUN_ATTR_CHANGE_REQUEST = 0x0003;
inline constexpr uint16_t STUN_ATTR_SOURCE_ADDRESS = 0x0004;
inline constexpr uint16_t STUN_ATTR_CHANGED_ADDRESS = 0x0005;
inline constexpr uint16_t STUN_ATTR_USERNAME = 0x0006;
inline constexpr uint16_t STUN_ATTR_PASSWORD = 0x0007;
inline constexpr uint16_t STUN_ATTR_MESSAGE_INTEGRITY = 0x0008;
inline constexpr uint16_t STUN_ATTR_ERROR_CODE = 0x0009;
inline constexpr uint16_t STUN_ATTR_UNKNOWN_ATTRIBUTES = 0x000A;
inline constexpr uint16_t STUN_ATTR_REFLECTED_FROM = 0x000B;
inline constexpr uint16_t STUN_ATTR_TRANSPORT_PREFERENCES = 0x000C;
inline constexpr uint16_t STUN_ATTR_LIFETIME = 0x000D;
inline constexpr uint16_t STUN_ATTR_ALTERNATE_SERVER = 0x000E;
inline constexpr uint16_t STUN_ATTR_MAGIC_COOKIE = 0x000F;
inline constexpr uint16_t STUN_ATTR_BANDWIDTH = 0x0010;
inline constexpr uint16_t STUN_ATTR_DESTINATION_ADDRESS = 0x0011;
inline constexpr uint16_t STUN_ATTR_SOURCE_ADDRESS2 = 0x0012;
inline constexpr uint16_t STUN_ATTR_DATA = 0x0013;
inline constexpr uint16_t STUN_ATTR_OPTIONS = 0x8001;

// Attributes of this type and above may be skipped by a receiver that does not know them.
inline constexpr uint16_t STUN_ATTR_COMPREHENSION_OPTIONAL = 0x8000;

inline constexpr uint8_t STUN_ADDRESS_IPV4 = 1;

inline constexpr int STUN_ERROR_BAD_REQUEST = 400;
inline constexpr int STUN_ERROR_UNAUTHORIZED = 401;
inline constexpr int STUN_ERROR_UNKNOWN_ATTRIBUTE = 420;
inline constexpr int STUN_ERROR_STALE_CREDENTIALS = 430;
inline constexpr int STUN_ERROR_INTEGRITY_CHECK_FAILURE = 431;
inline constexpr int STUN_ERROR_MISSING_USERNAME = 432;
inline constexpr int STUN_ERROR_USE_TLS = 433;
inline constexpr int STUN_ERROR_SERVER_ERROR = 500;
inline constexpr int STUN_ERROR_GLOBAL_FAILURE = 600;

inline constexpr char STUN_ERROR_REASON_BAD_REQUEST[] = "BAD REQUEST";
inline constexpr char STUN_ERROR_REASON_UNAUTHORIZED[] = "UNAUTHORIZED";
inline constexpr char STUN_ERROR_REASON_UNKNOWN_ATTRIBUTE[] = "UNKNOWN ATTRIBUTE";
inline constexpr char STUN_ERROR_REASON_STALE_CREDENTIALS[] = "STALE CREDENTIALS";
inline constexpr char STUN_ERROR_REASON_INTEGRITY_CHECK_FAILURE[] = "INTEGRITY CHECK FAILURE";
inline constexpr char STUN_ERROR_REASON_MISSING_USERNAME[] = "MISSING USERNAME";
inline constexpr char STUN_ERROR_REASON_USE_TLS[] = "USE TLS";
inline constexpr char STUN_ERROR_REASON_SERVER_ERROR[] = "SERVER ERROR";
inline constexpr char STUN_ERROR_REASON_GLOBAL_FAILURE[] = "GLOBAL FAILURE";

inline constexpr uint16_t ResponseTypeFor(uint16_t request_type) {
  switch (request_type) {
    case STUN_SHARED_SECRET_REQUEST: return STUN_SHARED_SECRET_RESPONSE;
    case STUN_ALLOCATE_REQUEST: return STUN_ALLOCATE_RESPONSE;
    case STUN_SEND_REQUEST: return STUN_SEND_RESPONSE;
    default: return STUN_BINDING_RESPONSE;
  }
}

inline constexpr uint16_t ErrorTypeFor(uint16_t request_type) {
  switch (request_type) {
    case STUN_SHARED_SECRET_REQUEST: return STUN_SHARED_SECRET_ERROR_RESPONSE;
    case STUN_ALLOCATE_REQUEST: return STUN_ALLOCATE_ERROR_RESPONSE;
    case STUN_SEND_REQUEST: return STUN_SEND_ERROR_RESPONSE;
    default: return STUN_BINDING_ERROR_RESPONSE;
  }
}

}  // namespace vexalo
