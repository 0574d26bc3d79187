#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/secretstore.h"

namespace vexalo {

// A secret store in memory, for tests: it can be switched to behave like a session without
// a Secret Service.
class MemorySecretStore : public SecretStore {
 public:
  ~MemorySecretStore() override;

  SecretResult Store(std::string_view key, std::string_view label,
                     std::string_view secret) override;
  SecretResult Lookup(std::string_view key, std::string* secret) override;
  SecretResult Clear(std::string_view key) override;
  SecretResult ClearAll() override;

  void SetAvailable(bool available) { available_ = available; }
  const std::map<std::string, std::string, std::less<>>& items() const { return items_; }
  int store_calls() const { return store_calls_; }

 private:
  bool available_ = true;
  int store_calls_ = 0;
  std::map<std::string, std::string, std::less<>> items_;
  std::mutex lock_;
};

}  // namespace vexalo
