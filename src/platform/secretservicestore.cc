#include "platform/secretservicestore.h"

#include <libsecret/secret.h>

#include <string>

#include "base/runtime/logging.h"

namespace vexalo {

namespace {

const SecretSchema* Schema() {
  static const SecretSchema schema = {
      SecretServiceStore::kSchemaName,
      SECRET_SCHEMA_NONE,
      {
          {SecretServiceStore::kApplicationAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING},
          {SecretServiceStore::kKeyAttribute, SECRET_SCHEMA_ATTRIBUTE_STRING},
          {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
      },
      0,
      nullptr,
      nullptr,
      nullptr,
      nullptr,
      nullptr,
      nullptr,
      nullptr};
  return &schema;
}

SecretResult Unavailable(const char* operation, GError* error) {
  LOG(kWarning) << "SecretServiceStore::" << operation
                << " - no Secret Service: " << (error ? error->message : "unknown error");
  if (error) g_error_free(error);
  return SecretResult::kUnavailable;
}

}  // namespace

SecretResult SecretServiceStore::Store(std::string_view key, std::string_view label,
                                       std::string_view secret) {
  const std::string key_text(key);
  const std::string label_text(label);
  // libsecret takes a C string; the copy is wiped as soon as the call returns.
  std::string secret_text(secret);
  GError* error = nullptr;
  const gboolean stored = secret_password_store_sync(
      Schema(), SECRET_COLLECTION_DEFAULT, label_text.c_str(), secret_text.c_str(), nullptr, &error,
      kApplicationAttribute, kApplicationValue, kKeyAttribute, key_text.c_str(), nullptr);
  WipeString(&secret_text);
  if (!stored) return Unavailable("Store", error);
  return SecretResult::kOk;
}

SecretResult SecretServiceStore::Lookup(std::string_view key, std::string* secret) {
  const std::string key_text(key);
  GError* error = nullptr;
  gchar* password = secret_password_lookup_nonpageable_sync(
      Schema(), nullptr, &error, kApplicationAttribute, kApplicationValue, kKeyAttribute,
      key_text.c_str(), nullptr);
  if (error) return Unavailable("Lookup", error);
  if (!password) return SecretResult::kNotFound;
  secret->assign(password);
  secret_password_free(password);
  return SecretResult::kOk;
}

SecretResult SecretServiceStore::Clear(std::string_view key) {
  const std::string key_text(key);
  GError* error = nullptr;
  const gboolean removed =
      secret_password_clear_sync(Schema(), nullptr, &error, kApplicationAttribute,
                                 kApplicationValue, kKeyAttribute, key_text.c_str(), nullptr);
  if (error) return Unavailable("Clear", error);
  return removed ? SecretResult::kOk : SecretResult::kNotFound;
}

SecretResult SecretServiceStore::ClearAll() {
  GError* error = nullptr;
  const gboolean removed = secret_password_clear_sync(
      Schema(), nullptr, &error, kApplicationAttribute, kApplicationValue, nullptr);
  if (error) return Unavailable("ClearAll", error);
  return removed ? SecretResult::kOk : SecretResult::kNotFound;
}

}  // namespace vexalo
