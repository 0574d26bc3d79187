#pragma once

#include <string>
#include <string_view>

namespace vexalo {

enum class SecretResult {
  kOk,
  kNotFound,
  // No secret store answered (no Secret Service on the session bus, or it refused): nothing
  // was stored, and the caller must tell the user.
  kUnavailable,
};

const char* SecretResultName(SecretResult result);

// Where passwords live, outside the settings file. Items are named by a key: the registry
// path of the value that refers to them.
class SecretStore {
 public:
  virtual ~SecretStore() = default;
  virtual SecretResult Store(std::string_view key, std::string_view label,
                             std::string_view secret) = 0;
  // On kOk, `secret` holds the password; the caller wipes it after use.
  virtual SecretResult Lookup(std::string_view key, std::string* secret) = 0;
  // kNotFound when there was no such item.
  virtual SecretResult Clear(std::string_view key) = 0;
  // Removes every item of the program.
  virtual SecretResult ClearAll() = 0;
};

// Overwrites the bytes of `text` with zeros (not optimised away) and empties it.
void WipeString(std::string* text);

}  // namespace vexalo
