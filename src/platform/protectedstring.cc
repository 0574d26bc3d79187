#include "platform/protectedstring.h"

#include "base/runtime/logging.h"

namespace vexalo {

ProtectedString& ProtectedString::operator=(const ProtectedString& other) {
  if (this != &other) {
    WipeString(&bytes_);
    bytes_ = other.bytes_;
  }
  return *this;
}

ProtectedString::ProtectedString(ProtectedString&& other) noexcept : bytes_(other.bytes_) {
  WipeString(&other.bytes_);
}

ProtectedString& ProtectedString::operator=(ProtectedString&& other) noexcept {
  if (this != &other) {
    WipeString(&bytes_);
    bytes_ = other.bytes_;
    WipeString(&other.bytes_);
  }
  return *this;
}

ProtectedString ProtectedString::FromPlain(std::string* text) {
  ProtectedString result;
  result.SetPlain(text);
  return result;
}

void ProtectedString::SetPlain(std::string* text) {
  WipeString(&bytes_);
  bytes_ = *text;
  WipeString(text);
}

SecretResult ProtectedString::Persist(SecretStore* store, std::string_view key,
                                      std::string_view label, std::string* text_form) const {
  text_form->clear();
  if (bytes_.empty()) {
    const SecretResult result = store->Clear(key);
    return result == SecretResult::kNotFound ? SecretResult::kOk : result;
  }
  const SecretResult result = store->Store(key, label, bytes_);
  if (result == SecretResult::kOk) {
    text_form->assign(kSecretServiceMarker);
  } else {
    LOG(kWarning) << "ProtectedString::Persist - password for " << key
                  << " not stored: " << SecretResultName(result);
  }
  return result;
}

ProtectedString ProtectedString::Restore(SecretStore* store, std::string_view key,
                                         std::string_view text_form, SecretResult* result) {
  ProtectedString password;
  if (text_form != kSecretServiceMarker) {
    if (!text_form.empty()) {
      LOG(kInfo) << "ProtectedString::Restore - " << key << " does not refer to a stored password";
    }
    *result = SecretResult::kNotFound;
    return password;
  }
  std::string plain;
  *result = store->Lookup(key, &plain);
  if (*result == SecretResult::kOk) {
    password.SetPlain(&plain);
  } else {
    LOG(kWarning) << "ProtectedString::Restore - password for " << key
                  << " unavailable: " << SecretResultName(*result);
  }
  return password;
}

}  // namespace vexalo
