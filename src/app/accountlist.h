#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/protectedstring.h"
#include "platform/secretstore.h"

namespace vexalo {

class RegistryFile;

// One stored account.
struct Account {
  std::string jid;
  // Resource to bind with; empty: the default one.
  std::string resource;
  ProtectedString password;
  // The account service's token, held for this run only.
  std::string token;
  // Server override ("px"/"pt"): where to connect instead of what the domain says.
  std::string server_host;
  uint32_t server_port = 0;
  bool tls_required = true;
  bool remember_password = false;
  // These credentials have signed in before.
  bool known_good = false;
  // The mail notification's position, kept across runs.
  std::array<uint8_t, 16> mail_state{};
};

// The accounts kept under "<root>\Accounts": names in display order ("o"), the active one
// ("a"), a flag ("f"), and one sub key per account. Passwords live in the secret store; the
// settings file only says that one is kept.
class AccountList {
 public:
  AccountList(RegistryFile* file, const std::string& root_key, SecretStore* secrets);

  // Reads the stored accounts; entries that are not addresses are dropped.
  void Load();
  // Rewrites the Accounts key from scratch; with `store_accounts` off the key (and every kept
  // password) is just removed. Passwords are kept only with `store_passwords` on.
  bool Save(bool store_accounts, bool store_passwords);
  // Where the accounts are stored, for messages.
  const std::string& file_path() const;
  // Removes the Accounts key and every kept password at once.
  void DeleteStored();

  std::vector<Account>& accounts() { return accounts_; }
  const std::vector<Account>& accounts() const { return accounts_; }
  // The active account's name: "a" when it names a listed account, else the first one.
  const std::string& active() const { return active_; }
  void SetActive(const std::string& jid) { active_ = jid; }
  // The record of `jid`, added at the end when missing.
  Account& Find(const std::string& jid);
  const std::string& key() const { return key_; }
  // After a copy of this list was saved elsewhere: which stored accounts are now known.
  void TakeStoredNames(const AccountList& saved) { seen_ = saved.seen_; }

 private:
  std::string PasswordKey(const std::string& jid) const { return key_ + "\\" + jid + "\\pw"; }

  RegistryFile* file_;
  SecretStore* secrets_;
  std::string key_;
  std::vector<Account> accounts_;
  std::string active_;
  // The stored accounts this process has seen (loaded or saved). Another process may add
  // accounts to the same file meanwhile; a save leaves those as they are.
  std::set<std::string> seen_;
  uint32_t flags_ = 0;
};

}  // namespace vexalo
