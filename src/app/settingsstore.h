#pragma once

#include <string>
#include <string_view>

#include "app/settings.h"
#include "base/runtime/signal.h"
#include "platform/regkey.h"
#include "platform/secretstore.h"

namespace vexalo {

class RegistryFile;

// The source of a change that the user made (the options dialog); other sources are the
// program's own bookkeeping.
inline constexpr int kSettingsSourceUser = 0;
inline constexpr int kSettingsSourceProgram = 1;

// What a Save achieved.
struct SaveStatus {
  // The options reached the settings file.
  bool written = false;
  // kUnavailable: the proxy password could not be kept (no Secret Service); it holds for this
  // run only, and the user should be told.
  SecretResult password = SecretResult::kOk;

  bool ok() const { return written && password == SecretResult::kOk; }
};

// The user's options: loaded once at start-up from the "Options" key under the registry
// root, saved as a whole whenever they change (only values that differ from their defaults),
// announced through SettingsChanged. Also reads the feature flags of the "Flags" key.
class SettingsStore {
 public:
  SettingsStore(RegistryFile* file, const std::string& root_key, SecretStore* secrets);

  static const Settings& Defaults();

  // Reads every option; without an Options key the defaults stay. Emits SettingsChanged with
  // source 0 when the options were read.
  void Load();
  // Replaces the Options key with the record's non-default values, keeps the proxy password
  // in the secret store, then Applies the record whatever the outcome.
  SaveStatus Save(const Settings& record, int source);
  // Makes the record current and emits SettingsChanged(old, new, source).
  void Apply(const Settings& record, int source);
  const Settings& Current() const { return current_; }

  // A feature flag of the "Flags" key: a dword, true when non-zero; `default_value` when it is
  // missing or not a dword.
  bool ReadFlag(std::string_view name, bool default_value = false) const;

  // Reads the options of `key` over `record` by the rules of each kind (a value of the wrong
  // type or size leaves the default); the proxy password is not touched.
  static void ReadOptions(const RegKey& key, Settings* record);
  // Writes the options of `record` that differ from the defaults; `password_text` is the
  // settings form of the proxy password (written when not empty).
  static void WriteOptions(const Settings& record, std::string_view password_text, RegKey* key);

  const std::string& options_key() const { return options_key_; }
  const std::string& flags_key() const { return flags_key_; }
  // The secret store's key of the proxy password.
  std::string PasswordKey() const { return options_key_ + "\\proxy_password"; }

  Signal<const Settings&, const Settings&, int> SettingsChanged;

 private:
  std::string PasswordText() const;

  RegistryFile* file_;
  SecretStore* secrets_;
  std::string options_key_;
  std::string flags_key_;
  Settings current_;
  // The secret store holds current_.proxy_password (nothing to do when it is saved again).
  bool password_kept_ = true;
  // The file refers to a stored password that could not be read.
  bool unread_password_ = false;
};

}  // namespace vexalo
