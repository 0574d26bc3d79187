#include "base/tls/tlserrors.h"

#include <openssl/x509_vfy.h>

namespace vexalo {

const ErrorNameEntry kTlsErrorNames[] = {
    {0x90314, "SEC_I_COMPLETE_AND_CONTINUE"},
    {0x90313, "SEC_I_COMPLETE_NEEDED"},
    {0x90312, "SEC_I_CONTINUE_NEEDED"},
    {0x90320, "SEC_I_INCOMPLETE_CREDENTIALS"},
    {0x80090328, "SEC_E_CERT_EXPIRED"},
    {0x80090318, "SEC_E_INCOMPLETE_MESSAGE"},
    {0x80090300, "SEC_E_INSUFFICIENT_MEMORY"},
    {0x80090304, "SEC_E_INTERNAL_ERROR"},
    {0x80090301, "SEC_E_INVALID_HANDLE"},
    {0x80090308, "SEC_E_INVALID_TOKEN"},
    {0x8009030C, "SEC_E_LOGON_DENIED"},
    {0x80090311, "SEC_E_NO_AUTHENTICATING_AUTHORITY"},
    {0x8009030E, "SEC_E_NO_CREDENTIALS"},
    {0x80090306, "SEC_E_NOT_OWNER"},
    {0, "SEC_E_OK"},
    {0x80090305, "SEC_E_SECPKG_NOT_FOUND"},
    {0x80090303, "SEC_E_TARGET_UNKNOWN"},
    {0x8009030D, "SEC_E_UNKNOWN_CREDENTIALS"},
    {0x80090302, "SEC_E_UNSUPPORTED_FUNCTION"},
    {0x80090325, "SEC_E_UNTRUSTED_ROOT"},
    {0x80090322, "SEC_E_WRONG_PRINCIPAL"},
    {0, nullptr},
};

int TlsErrorFromVerifyResult(long verify_result) {
  switch (verify_result) {
    case X509_V_OK:
      return kSecOk;
    // Outside the validity period either way.
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return kSecCertExpired;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
    case X509_V_ERR_EMAIL_MISMATCH:
      return kSecWrongPrincipal;
    // Unknown issuer, self-signed, bad signature, not a CA, wrong purpose...: the chain is
    // not one we trust. The log line before the mapping keeps OpenSSL's precise reason.
    default:
      return kSecUntrustedRoot;
  }
}

}  // namespace vexalo
