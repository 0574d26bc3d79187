// Storing the accounts happens on a thread of its own: the caller goes on while the secret
// store is slow to answer, and learns the outcome from the completion message.
#include "app/accountstoragejob.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

#include "base/runtime/eventqueue.h"
#include "platform/memorysecretstore.h"
#include "platform/registryfile.h"
#include "support/testfiles.h"

namespace vexalo {
namespace {

constexpr const char* kRoot = "Software\\Test\\Vexalo";

// A secret store that answers only once the test lets it.
class GatedSecretStore : public MemorySecretStore {
 public:
  SecretResult Store(std::string_view key, std::string_view label,
                     std::string_view secret) override {
    opened.wait();
    return MemorySecretStore::Store(key, label, secret);
  }
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
};

class Owner : public MessageTarget {
 public:
  void HandleMessage(QueuedMessage* msg) override {
    delete msg->payload;
    msg->payload = nullptr;
    ++completions;
  }
  int completions = 0;
};

bool PumpUntilCompleted(EventQueue* queue, Owner* owner) {
  for (int i = 0; i < 500 && owner->completions == 0; ++i) {
    QueuedMessage msg;
    if (queue->Get(&msg, 10)) queue->Dispatch(&msg);
  }
  return owner->completions == 1;
}

TEST(AccountStorageJobTest, CallerGoesOnWhileTheSecretStoreIsSlow) {
  TempDir dir;
  RegistryFile registry(dir.path() + "/config/settings.ini");
  GatedSecretStore secrets;
  AccountList accounts(&registry, kRoot, &secrets);
  Account& alice = accounts.Find("alice@example.net");
  std::string clear = "secret";
  alice.password = ProtectedString::FromPlain(&clear);
  alice.remember_password = true;
  accounts.SetActive("alice@example.net");

  EventQueue queue;
  Owner owner;
  auto* job = new AccountStorageJob(&owner, 1, &queue, accounts, true, true);
  ASSERT_TRUE(job->Start());
  // Start returned with the store still waiting on the secret store.
  EXPECT_FALSE(job->IsDone());
  EXPECT_TRUE(secrets.items().empty());
  secrets.gate.set_value();
  ASSERT_TRUE(PumpUntilCompleted(&queue, &owner));
  EXPECT_TRUE(job->saved());
  EXPECT_EQ(secrets.items().size(), 1u);
  AccountList reloaded(&registry, kRoot, &secrets);
  reloaded.Load();
  EXPECT_EQ(reloaded.active(), "alice@example.net");
  EXPECT_EQ(reloaded.Find("alice@example.net").password.Plain(), "secret");
  job->Release();
}

TEST(AccountStorageJobTest, AFileThatCannotBeWrittenIsReported) {
  TempDir dir;
  // The settings folder is a file: nothing can be written below it.
  { std::ofstream(dir.path() + "/config") << "x"; }
  RegistryFile registry(dir.path() + "/config/settings.ini");
  MemorySecretStore secrets;
  AccountList accounts(&registry, kRoot, &secrets);
  accounts.Find("alice@example.net");
  EventQueue queue;
  Owner owner;
  auto* job = new AccountStorageJob(&owner, 1, &queue, accounts, true, false);
  ASSERT_TRUE(job->Start());
  ASSERT_TRUE(PumpUntilCompleted(&queue, &owner));
  EXPECT_FALSE(job->saved());
  job->Release();
}

}  // namespace
}  // namespace vexalo
