#pragma once

#include <cstdint>

#include "base/runtime/logging.h"

namespace vexalo {

// The security error codes the system speaks for TLS (logs and the owners' close reports
// depend on their values). Values above 0x7FFFFFFF travel as negative ints through
// CloseEvent and GetError; compare them through these constants.
constexpr int SecurityCode(uint32_t code) { return static_cast<int>(code); }

inline constexpr int kSecOk = 0;
inline constexpr int kSecContinueNeeded = SecurityCode(0x90312);
inline constexpr int kSecIncompleteCredentials = SecurityCode(0x90320);
inline constexpr int kSecInsufficientMemory = SecurityCode(0x80090300);
inline constexpr int kSecInternalError = SecurityCode(0x80090304);
inline constexpr int kSecTargetUnknown = SecurityCode(0x80090303);
inline constexpr int kSecInvalidToken = SecurityCode(0x80090308);
inline constexpr int kSecNoCredentials = SecurityCode(0x8009030E);
inline constexpr int kSecIncompleteMessage = SecurityCode(0x80090318);
inline constexpr int kSecWrongPrincipal = SecurityCode(0x80090322);
inline constexpr int kSecUntrustedRoot = SecurityCode(0x80090325);
inline constexpr int kSecCertExpired = SecurityCode(0x80090328);

// StartSSL on an adapter whose TLS was already started.
inline constexpr int kTlsAlreadyStarted = 1247;

// Names for ErrorName in every TLS log line.
extern const ErrorNameEntry kTlsErrorNames[];

inline std::string TlsErrorName(int code) {
  return ErrorName(static_cast<uint32_t>(code), kTlsErrorNames);
}

// The system's code for a failed certificate verification (an X509_V_ERR_* value).
int TlsErrorFromVerifyResult(long verify_result);

}  // namespace vexalo
