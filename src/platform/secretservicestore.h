#pragma once

#include "platform/secretstore.h"

namespace vexalo {

// The desktop's Secret Service (gnome-keyring, KeePassXC, KWallet's bridge) through libsecret,
// in the user's default collection. Calls are synchronous on the session bus.
class SecretServiceStore : public SecretStore {
 public:
  SecretResult Store(std::string_view key, std::string_view label,
                     std::string_view secret) override;
  SecretResult Lookup(std::string_view key, std::string* secret) override;
  SecretResult Clear(std::string_view key) override;
  SecretResult ClearAll() override;

  // The schema's attributes, for tools that inspect the keyring.
  static constexpr const char* kSchemaName = "com.ombrix.Vexalo.Password";
  static constexpr const char* kApplicationAttribute = "application";
  static constexpr const char* kApplicationValue = "vexalo";
  static constexpr const char* kKeyAttribute = "key";
};

}  // namespace vexalo
