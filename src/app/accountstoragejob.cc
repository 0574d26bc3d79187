#include "app/accountstoragejob.h"

namespace vexalo {

AccountStorageJob::AccountStorageJob(MessageTarget* owner, uint32_t message_id,
                                     EventQueue* owner_queue, const AccountList& accounts,
                                     bool store_accounts, bool store_passwords)
    : BackgroundWorker(owner, message_id, owner_queue),
      accounts_(accounts),
      store_accounts_(store_accounts),
      store_passwords_(store_passwords) {}

void AccountStorageJob::DoWork() {
  if (!store_accounts_) {
    accounts_.DeleteStored();
  } else {
    saved_ = accounts_.Save(store_accounts_, store_passwords_);
  }
}

}  // namespace vexalo
