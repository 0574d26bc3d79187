#pragma once

#include <string>
#include <string_view>

#include "platform/secretstore.h"

namespace vexalo {

// A password (the proxy password, account passwords). In memory its bytes are wiped whenever
// it changes or dies; on disk it lives only in the Secret Service, and the settings file holds
// a marker that refers to it. There is no fallback form on disk: without a Secret Service the
// password is not stored and the caller is told.
class ProtectedString {
 public:
  ProtectedString() = default;
  ~ProtectedString() { WipeString(&bytes_); }
  ProtectedString(const ProtectedString& other) : bytes_(other.bytes_) {}
  ProtectedString& operator=(const ProtectedString& other);
  // Moves copy and wipe: a moved-from short string would keep its bytes otherwise.
  ProtectedString(ProtectedString&& other) noexcept;
  ProtectedString& operator=(ProtectedString&& other) noexcept;

  // Takes the UTF-8 text and wipes the caller's copy.
  static ProtectedString FromPlain(std::string* text);
  void SetPlain(std::string* text);
  // A copy of the clear text; the caller wipes it after use.
  std::string Plain() const { return bytes_; }
  bool empty() const { return bytes_.empty(); }
  void Clear() { WipeString(&bytes_); }

  bool operator==(const ProtectedString& other) const { return bytes_ == other.bytes_; }

  // What the settings file holds for a password kept in the Secret Service.
  static constexpr std::string_view kSecretServiceMarker = "secret-service";

  // Keeps the password in `store` under `key` (an empty password removes the item). On return
  // `text_form` is what the settings file should hold: the marker when the password is kept,
  // empty when it is empty or could not be kept.
  SecretResult Persist(SecretStore* store, std::string_view key, std::string_view label,
                       std::string* text_form) const;
  // The password that a settings value refers to. Anything but the marker reads as empty, as
  // does a marker whose item is gone; `result` says which.
  static ProtectedString Restore(SecretStore* store, std::string_view key,
                                 std::string_view text_form, SecretResult* result);

 private:
  std::string bytes_;
};

}  // namespace vexalo
