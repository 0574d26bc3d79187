#include "app/settingsstore.h"

#include <optional>
#include <utility>
#include <vector>

#include "base/runtime/logging.h"
#include "platform/registryfile.h"
#include "platform/registrytree.h"

namespace vexalo {

namespace {

constexpr char kLegacyUser[] = "auth_user";
constexpr char kLegacyPassword[] = "auth_pass";
constexpr char kPasswordValue[] = "proxy_password";
constexpr char kPasswordLabel[] = "Vexalo proxy password";

std::string ReadString(const RegKey& key, std::string_view name) {
  const std::optional<RegValue> value = key.QueryValue(name);
  const std::string* text = value ? value->AsString() : nullptr;
  return text ? *text : std::string();
}

class OptionReader {
 public:
  explicit OptionReader(const RegKey& key) : key_(key) {}

  void Bool(const char* name, bool& field) {
    if (auto value = Dword(name)) field = *value != 0;
  }
  void Int(const char* name, int32_t& field) {
    if (auto value = Dword(name)) field = static_cast<int32_t>(*value);
  }
  void Note(const char* name, int32_t& field) {
    if (auto value = Dword(name)) {
      field = *value <= 2 ? static_cast<int32_t>(*value) : kNoteDefault;
    }
  }
  void Rect(const char* name, WindowRect& field) {
    const std::optional<RegValue> value = key_.QueryValue(name);
    const std::vector<uint8_t>* bytes = value ? value->AsBinary() : nullptr;
    if (!bytes || bytes->size() != 16) {
      field = WindowRect();
      return;
    }
    int32_t parts[4];
    for (int i = 0; i < 4; ++i) {
      uint32_t word = 0;
      for (int b = 3; b >= 0; --b) word = word << 8 | (*bytes)[static_cast<size_t>(i * 4 + b)];
      parts[i] = static_cast<int32_t>(word);
    }
    field = WindowRect{parts[0], parts[1], parts[2], parts[3]};
  }
  void String(const char* name, std::string& field) {
    const std::optional<RegValue> value = key_.QueryValue(name);
    if (const std::string* text = value ? value->AsString() : nullptr) field = *text;
  }
  void Blob(const char* name, RegValue& field) {
    if (std::optional<RegValue> value = key_.QueryValue(name)) field = std::move(*value);
  }
  void Protected(const char*, ProtectedString&) {}

 private:
  std::optional<uint32_t> Dword(const char* name) {
    const std::optional<RegValue> value = key_.QueryValue(name);
    return value ? value->AsDword() : std::nullopt;
  }

  const RegKey& key_;
};

// The stored form of every option of a record, in record order; nothing for an option that
// is not stored in any case (an empty rectangle, an empty password).
class OptionEncoder {
 public:
  explicit OptionEncoder(std::string_view password_text) : password_text_(password_text) {}

  void Bool(const char* name, const bool& field) { Add(name, RegValue::Dword(field ? 1 : 0)); }
  void Int(const char* name, const int32_t& field) {
    Add(name, RegValue::Dword(static_cast<uint32_t>(field)));
  }
  void Note(const char* name, const int32_t& field) { Int(name, field); }
  void Rect(const char* name, const WindowRect& field) {
    if (field.right == field.left || field.bottom == field.top) {
      Add(name, std::nullopt);
      return;
    }
    std::vector<uint8_t> bytes;
    for (int32_t part : {field.left, field.top, field.right, field.bottom}) {
      const auto word = static_cast<uint32_t>(part);
      for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<uint8_t>(word >> (8 * b)));
    }
    Add(name, RegValue::Binary(std::move(bytes)));
  }
  void String(const char* name, const std::string& field) { Add(name, RegValue::String(field)); }
  void Blob(const char* name, const RegValue& field) { Add(name, field); }
  void Protected(const char* name, const ProtectedString&) {
    if (password_text_.empty()) {
      Add(name, std::nullopt);
    } else {
      Add(name, RegValue::String(std::string(password_text_)));
    }
  }

  std::vector<std::pair<const char*, std::optional<RegValue>>> values;

 private:
  void Add(const char* name, std::optional<RegValue> value) {
    values.emplace_back(name, std::move(value));
  }

  std::string_view password_text_;
};

}  // namespace

SettingsStore::SettingsStore(RegistryFile* file, const std::string& root_key, SecretStore* secrets)
    : file_(file),
      secrets_(secrets),
      options_key_(root_key + "\\Options"),
      flags_key_(root_key + "\\Flags") {}

const Settings& SettingsStore::Defaults() {
  static const Settings* defaults = new Settings();
  return *defaults;
}

void SettingsStore::ReadOptions(const RegKey& key, Settings* record) {
  OptionReader reader(key);
  VisitOptions(*record, reader);
}

void SettingsStore::WriteOptions(const Settings& record, std::string_view password_text,
                                 RegKey* key) {
  OptionEncoder wanted(password_text);
  VisitOptions(record, wanted);
  OptionEncoder defaults(std::string_view{});
  VisitOptions(Defaults(), defaults);
  // Only what differs from the default is stored, so a value removed by hand means default.
  for (size_t i = 0; i < wanted.values.size(); ++i) {
    const auto& [name, value] = wanted.values[i];
    if (!value || value == defaults.values[i].second) continue;
    if (!key->SetValue(name, *value)) {
      LOG(kWarning) << "SettingsStore - option " << name << " breaks the registry's limits";
    }
  }
}

void SettingsStore::Load() {
  RegistryTree tree = file_->Read();
  if (!tree.KeyExists(options_key_)) return;
  Settings record = Defaults();
  TreeKey key(&tree, options_key_);
  ReadOptions(key, &record);

  // Older profiles kept the proxy user under another name.
  std::string legacy_user = ReadString(key, kLegacyUser);
  if (!legacy_user.empty()) record.proxy_username = std::move(legacy_user);

  std::string legacy_password = ReadString(key, kLegacyPassword);
  if (!legacy_password.empty()) {
    // A password in clear text moves into the secret store; it leaves the file only once it
    // is safely there, so that no password is ever lost.
    record.proxy_password.SetPlain(&legacy_password);
    std::string text;
    const SecretResult kept =
        record.proxy_password.Persist(secrets_, PasswordKey(), kPasswordLabel, &text);
    password_kept_ = kept == SecretResult::kOk;
    if (password_kept_) {
      const bool moved = file_->Edit([&](RegistryTree& t) {
        t.DeleteValue(options_key_, kLegacyPassword);
        if (!text.empty()) t.SetValue(options_key_, kPasswordValue, RegValue::String(text));
      });
      LOG(kInfo) << "SettingsStore::Load - legacy proxy password moved to the secret store"
                 << (moved ? "" : ", but the file still holds it");
    } else {
      LOG(kWarning) << "SettingsStore::Load - the clear-text proxy password stays in "
                    << file_->path() << " until a Secret Service can take it";
    }
  } else {
    SecretResult result = SecretResult::kOk;
    record.proxy_password =
        ProtectedString::Restore(secrets_, PasswordKey(), ReadString(key, kPasswordValue), &result);
    password_kept_ = result != SecretResult::kUnavailable;
    unread_password_ = result == SecretResult::kUnavailable;
  }
  Apply(record, kSettingsSourceUser);
}

std::string SettingsStore::PasswordText() const {
  return current_.proxy_password.empty() ? std::string()
                                         : std::string(ProtectedString::kSecretServiceMarker);
}

SaveStatus SettingsStore::Save(const Settings& record, int source) {
  SaveStatus status;
  std::string password_text;
  const bool password_unchanged = record.proxy_password == current_.proxy_password;
  if (password_unchanged && unread_password_) {
    // The file refers to a password that could not be read (the keyring was not there at
    // start-up): keep the reference rather than lose the password.
    password_text = ProtectedString::kSecretServiceMarker;
  } else if (password_unchanged && password_kept_) {
    password_text = PasswordText();
  } else {
    status.password =
        record.proxy_password.Persist(secrets_, PasswordKey(), kPasswordLabel, &password_text);
    password_kept_ = status.password == SecretResult::kOk;
    unread_password_ = false;
  }
  const std::string previous_password_text = password_unchanged ? password_text : PasswordText();
  status.written = file_->Edit([&](RegistryTree& tree) {
    // Only what this process changed goes in: options another process of the user saved
    // since (the file is re-read under the lock) stay as that process left them.
    RegistryTree before;
    RegistryTree after;
    TreeKey before_key(&before, options_key_);
    TreeKey after_key(&after, options_key_);
    WriteOptions(current_, previous_password_text, &before_key);
    WriteOptions(record, password_text, &after_key);
    std::vector<std::string> names = before.ValueNames(options_key_);
    for (const std::string& name : after.ValueNames(options_key_)) names.push_back(name);
    for (const std::string& name : names) {
      const std::optional<RegValue> value = after.QueryValue(options_key_, name);
      if (value == before.QueryValue(options_key_, name)) continue;
      if (value) {
        tree.SetValue(options_key_, name, *value);
      } else {
        tree.DeleteValue(options_key_, name);
      }
    }
  });
  if (!status.written) {
    LOG(kWarning) << "SettingsStore::Save - options not written to " << file_->path();
  }
  Apply(record, source);
  return status;
}

void SettingsStore::Apply(const Settings& record, int source) {
  const Settings old = current_;
  current_ = record;
  // Copies: a handler may Save again, which replaces current_ during this emission.
  const Settings now = current_;
  SettingsChanged.Emit(old, now, source);
}

bool SettingsStore::ReadFlag(std::string_view name, bool default_value) const {
  const std::optional<RegValue> value = file_->Read().QueryValue(flags_key_, name);
  const std::optional<uint32_t> number = value ? value->AsDword() : std::nullopt;
  return number ? *number != 0 : default_value;
}

}  // namespace vexalo
