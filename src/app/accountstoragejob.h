#pragma once

#include <cstdint>

#include "app/accountlist.h"
#include "base/runtime/backgroundworker.h"

namespace vexalo {

// Stores the accounts (and their passwords in the secret store) on a thread of its own: the
// secret store may take seconds to answer, or wait for the user to unlock it, and the file is
// written with fsync. Works on a copy of the list taken when it was made.
class AccountStorageJob : public BackgroundWorker {
 public:
  AccountStorageJob(MessageTarget* owner, uint32_t message_id, EventQueue* owner_queue,
                    const AccountList& accounts, bool store_accounts, bool store_passwords);

  // After the completion message: the list as stored, and whether the file could be written.
  const AccountList& accounts() const { return accounts_; }
  bool saved() const { return saved_; }

 protected:
  void DoWork() override;

 private:
  AccountList accounts_;
  bool store_accounts_;
  bool store_passwords_;
  bool saved_ = true;
};

}  // namespace vexalo
