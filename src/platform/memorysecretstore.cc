#include "platform/memorysecretstore.h"

#include <mutex>

namespace vexalo {

MemorySecretStore::~MemorySecretStore() { ClearAll(); }

SecretResult MemorySecretStore::Store(std::string_view key, std::string_view,
                                      std::string_view secret) {
  // The accounts are stored from a thread of their own.
  const std::lock_guard<std::mutex> hold(lock_);
  if (!available_) return SecretResult::kUnavailable;
  ++store_calls_;
  std::string& slot = items_[std::string(key)];
  WipeString(&slot);
  slot.assign(secret);
  return SecretResult::kOk;
}

SecretResult MemorySecretStore::Lookup(std::string_view key, std::string* secret) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (!available_) return SecretResult::kUnavailable;
  auto it = items_.find(key);
  if (it == items_.end()) return SecretResult::kNotFound;
  *secret = it->second;
  return SecretResult::kOk;
}

SecretResult MemorySecretStore::Clear(std::string_view key) {
  const std::lock_guard<std::mutex> hold(lock_);
  if (!available_) return SecretResult::kUnavailable;
  auto it = items_.find(key);
  if (it == items_.end()) return SecretResult::kNotFound;
  WipeString(&it->second);
  items_.erase(it);
  return SecretResult::kOk;
}

SecretResult MemorySecretStore::ClearAll() {
  const std::lock_guard<std::mutex> hold(lock_);
  if (!available_) return SecretResult::kUnavailable;
  for (auto& [key, secret] : items_) WipeString(&secret);
  const bool any = !items_.empty();
  items_.clear();
  return any ? SecretResult::kOk : SecretResult::kNotFound;
}

}  // namespace vexalo
