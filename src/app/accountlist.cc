#include "app/accountlist.h"

#include <algorithm>
#include <optional>

#include "base/runtime/logging.h"
#include "platform/registryfile.h"
#include "platform/registrytree.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {
namespace {

constexpr char kPasswordLabel[] = "Vexalo account password";

bool IsAccountName(const std::string& text) {
  return XmppAddress(text).IsValid() && RegistryTree::IsValidName(text) &&
         text.find('\\') == std::string::npos;
}

std::optional<uint32_t> Dword(const RegistryTree& tree, const std::string& path,
                              std::string_view name) {
  const std::optional<RegValue> value = tree.QueryValue(path, name);
  return value ? value->AsDword() : std::nullopt;
}

std::string Text(const RegistryTree& tree, const std::string& path, std::string_view name) {
  const std::optional<RegValue> value = tree.QueryValue(path, name);
  const std::string* text = value ? value->AsString() : nullptr;
  return text ? *text : std::string();
}

}  // namespace

AccountList::AccountList(RegistryFile* file, const std::string& root_key, SecretStore* secrets)
    : file_(file), secrets_(secrets), key_(root_key + "\\Accounts") {}

Account& AccountList::Find(const std::string& jid) {
  for (Account& account : accounts_) {
    if (account.jid == jid) return account;
  }
  accounts_.push_back(Account{});
  accounts_.back().jid = jid;
  return accounts_.back();
}

void AccountList::Load() {
  accounts_.clear();
  const RegistryTree tree = file_->Read();
  const std::vector<std::string> stored = tree.SubKeys(key_);
  seen_ = std::set<std::string>(stored.begin(), stored.end());
  const std::optional<RegValue> names = tree.QueryValue(key_, "o");
  if (const std::vector<std::string>* list = names ? names->AsMultiString() : nullptr) {
    for (const std::string& jid : *list) {
      if (!IsAccountName(jid)) {
        LOG(kWarning) << "Dropping a stored account that is not an address";
        continue;
      }
      Account& account = Find(jid);
      const std::string path = key_ + "\\" + jid;
      SecretResult result = SecretResult::kOk;
      account.password =
          ProtectedString::Restore(secrets_, PasswordKey(jid), Text(tree, path, "pw"), &result);
      account.remember_password = !account.password.empty();
      account.server_host = Text(tree, path, "px");
      account.server_port = Dword(tree, path, "pt").value_or(0);
      if (account.server_port > 65535) account.server_port = 0;
      account.tls_required = Dword(tree, path, "ct").value_or(0) != 1;
      account.known_good = !account.password.empty() && Dword(tree, path, "k").value_or(0) == 1;
      const std::optional<RegValue> mail = tree.QueryValue(path, "mailstate");
      const std::vector<uint8_t>* bytes = mail ? mail->AsBinary() : nullptr;
      if (bytes != nullptr && bytes->size() == account.mail_state.size()) {
        std::copy(bytes->begin(), bytes->end(), account.mail_state.begin());
      }
    }
  }
  flags_ = Dword(tree, key_, "f").value_or(0);
  const std::string stored_active = Text(tree, key_, "a");
  active_.clear();
  for (const Account& account : accounts_) {
    if (account.jid == stored_active) active_ = stored_active;
  }
  if (active_.empty()) {
    active_ = !accounts_.empty() ? accounts_.front().jid
              : IsAccountName(stored_active) ? stored_active
                                             : std::string();
  }
}

bool AccountList::Save(bool store_accounts, bool store_passwords) {
  // Passwords of accounts that are no longer kept go with them. Accounts another process
  // stored since we last looked are not ours to drop.
  std::vector<std::string> dropped;
  const RegistryTree before = file_->Read();
  for (const std::string& jid : before.SubKeys(key_)) {
    bool ours = store_accounts ? seen_.count(jid) > 0 : true;
    bool kept = false;
    for (const Account& account : accounts_) {
      ours = ours || account.jid == jid;
      kept = kept || (account.jid == jid && store_accounts && store_passwords &&
                      account.remember_password);
    }
    if (ours && !kept) dropped.push_back(jid);
  }
  for (const std::string& jid : dropped) secrets_->Clear(PasswordKey(jid));
  if (!store_accounts) {
    return file_->Edit([&](RegistryTree& tree) { tree.DeleteKey(key_); });
  }

  // Passwords go to the secret store first; the file records only where they are.
  std::vector<std::string> password_forms(accounts_.size());
  for (size_t i = 0; i < accounts_.size(); ++i) {
    const Account& account = accounts_[i];
    if (!store_passwords || !account.remember_password || account.password.empty()) continue;
    const SecretResult result = account.password.Persist(secrets_, PasswordKey(account.jid),
                                                         kPasswordLabel, &password_forms[i]);
    if (result != SecretResult::kOk) {
      LOG(kWarning) << "The password of a stored account could not be kept: "
                    << SecretResultName(result);
    }
  }
  return file_->Edit([&](RegistryTree& tree) {
    // Re-read under the lock: what another process stored since we last looked stays.
    std::vector<std::string> others;
    for (const std::string& jid : tree.SubKeys(key_)) {
      const bool ours = std::any_of(accounts_.begin(), accounts_.end(),
                                    [&](const Account& a) { return a.jid == jid; });
      if (!ours && seen_.count(jid) == 0) others.push_back(jid);
    }
    for (const std::string& jid : tree.SubKeys(key_)) {
      if (std::find(others.begin(), others.end(), jid) == others.end()) {
        tree.DeleteKey(key_ + "\\" + jid);
      }
    }
    tree.DeleteValue(key_, "a");
    tree.DeleteValue(key_, "f");
    std::vector<std::string> names;
    seen_.clear();
    for (size_t i = 0; i < accounts_.size(); ++i) {
      const Account& account = accounts_[i];
      if (!IsAccountName(account.jid)) continue;
      names.push_back(account.jid);
      seen_.insert(account.jid);
      const std::string path = key_ + "\\" + account.jid;
      if (!password_forms[i].empty()) tree.SetValue(path, "pw", RegValue::String(password_forms[i]));
      if (!account.server_host.empty()) {
        tree.SetValue(path, "px", RegValue::String(account.server_host));
      }
      if (account.server_port != 0) tree.SetValue(path, "pt", RegValue::Dword(account.server_port));
      if (!account.tls_required) tree.SetValue(path, "ct", RegValue::Dword(1));
      if (account.known_good && !password_forms[i].empty()) {
        tree.SetValue(path, "k", RegValue::Dword(1));
      }
      bool any_mail_state = false;
      for (uint8_t byte : account.mail_state) any_mail_state = any_mail_state || byte != 0;
      if (any_mail_state) {
        tree.SetValue(path, "mailstate",
                      RegValue::Binary({account.mail_state.begin(), account.mail_state.end()}));
      }
    }
    for (const std::string& jid : others) {
      names.push_back(jid);
      seen_.insert(jid);
    }
    tree.SetValue(key_, "o", RegValue::MultiString(names));
    if (IsAccountName(active_)) tree.SetValue(key_, "a", RegValue::String(active_));
    if (flags_ != 0) tree.SetValue(key_, "f", RegValue::Dword(flags_));
  });
}

const std::string& AccountList::file_path() const { return file_->path(); }

void AccountList::DeleteStored() {
  const RegistryTree before = file_->Read();
  for (const std::string& jid : before.SubKeys(key_)) secrets_->Clear(PasswordKey(jid));
  file_->Edit([&](RegistryTree& tree) { tree.DeleteKey(key_); });
}

}  // namespace vexalo
