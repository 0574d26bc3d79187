#include "platform/protectedstring.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/memorysecretstore.h"
#include "platform/secretservicestore.h"

namespace vexalo {
namespace {

constexpr char kKey[] = "Software\\Ombrix\\Vexalo\\Options\\proxy_password";

TEST(ProtectedStringTest, TakesTheTextAndWipesTheCallersCopy) {
  std::string plain = "hunter2";
  ProtectedString password = ProtectedString::FromPlain(&plain);
  EXPECT_TRUE(plain.empty());
  EXPECT_EQ(password.Plain(), "hunter2");

  ProtectedString moved = std::move(password);
  EXPECT_TRUE(password.empty());  // NOLINT(bugprone-use-after-move): moves wipe
  EXPECT_EQ(moved.Plain(), "hunter2");
  EXPECT_TRUE(ProtectedString() == ProtectedString());
  EXPECT_FALSE(moved == ProtectedString());
}

TEST(ProtectedStringTest, PersistKeepsOnlyAMarkerInTheSettings) {
  MemorySecretStore store;
  std::string plain = "s3cret";
  const ProtectedString password = ProtectedString::FromPlain(&plain);
  std::string text;
  ASSERT_EQ(password.Persist(&store, kKey, "label", &text), SecretResult::kOk);
  EXPECT_EQ(text, ProtectedString::kSecretServiceMarker);
  EXPECT_EQ(store.items().at(kKey), "s3cret");

  SecretResult result = SecretResult::kUnavailable;
  EXPECT_EQ(ProtectedString::Restore(&store, kKey, text, &result).Plain(), "s3cret");
  EXPECT_EQ(result, SecretResult::kOk);

  // An empty password removes the item.
  ASSERT_EQ(ProtectedString().Persist(&store, kKey, "label", &text), SecretResult::kOk);
  EXPECT_TRUE(text.empty());
  EXPECT_TRUE(store.items().empty());
}

TEST(ProtectedStringTest, WithoutASecretStoreNothingIsKeptAndTheCallerIsTold) {
  MemorySecretStore store;
  store.SetAvailable(false);
  std::string plain = "s3cret";
  std::string text = "stale";
  EXPECT_EQ(ProtectedString::FromPlain(&plain).Persist(&store, kKey, "label", &text),
            SecretResult::kUnavailable);
  EXPECT_TRUE(text.empty());
}

TEST(ProtectedStringTest, AnythingButTheMarkerReadsAsEmpty) {
  MemorySecretStore store;
  std::string plain = "s3cret";
  std::string text;
  ProtectedString::FromPlain(&plain).Persist(&store, kKey, "label", &text);
  for (const char* form : {"", "!!!!::3a4b", "s3cret", "secret-service ", "Secret-Service"}) {
    SecretResult result = SecretResult::kOk;
    EXPECT_TRUE(ProtectedString::Restore(&store, kKey, form, &result).empty()) << form;
    EXPECT_EQ(result, SecretResult::kNotFound);
  }
  // The marker with its item gone.
  store.ClearAll();
  SecretResult result = SecretResult::kOk;
  EXPECT_TRUE(ProtectedString::Restore(&store, kKey, text, &result).empty());
  EXPECT_EQ(result, SecretResult::kNotFound);
}

// A session without a bus: the real store reports that no Secret Service is there.
TEST(SecretServiceStoreTest, WithoutASessionBusReportsUnavailable) {
  if (getenv("VEXALO_SECRET_SERVICE")) GTEST_SKIP() << "a Secret Service runs here";
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vexalo-test-bus", 1);
  unsetenv("DISPLAY");
  SecretServiceStore store;
  EXPECT_EQ(store.Store(kKey, "label", "s3cret"), SecretResult::kUnavailable);
  std::string secret;
  EXPECT_EQ(store.Lookup(kKey, &secret), SecretResult::kUnavailable);
  EXPECT_TRUE(secret.empty());
}

// Against a real Secret Service (tests/scripts/with-keyring.sh starts gnome-keyring in a
// private D-Bus session and sets VEXALO_SECRET_SERVICE).
class PeerSecretServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!getenv("VEXALO_SECRET_SERVICE")) GTEST_SKIP() << "no Secret Service set up";
    store_.ClearAll();
  }
  void TearDown() override { store_.ClearAll(); }
  SecretServiceStore store_;
};

TEST_F(PeerSecretServiceTest, StoresLooksUpAndClears) {
  ASSERT_EQ(store_.Store(kKey, "Vexalo test", "pässword with spaces"), SecretResult::kOk);
  ASSERT_EQ(store_.Store("other\\key", "Vexalo test", "second"), SecretResult::kOk);
  std::string secret;
  ASSERT_EQ(store_.Lookup(kKey, &secret), SecretResult::kOk);
  EXPECT_EQ(secret, "pässword with spaces");

  // Storing again replaces the item.
  ASSERT_EQ(store_.Store(kKey, "Vexalo test", "new"), SecretResult::kOk);
  ASSERT_EQ(store_.Lookup(kKey, &secret), SecretResult::kOk);
  EXPECT_EQ(secret, "new");

  EXPECT_EQ(store_.Clear(kKey), SecretResult::kOk);
  EXPECT_EQ(store_.Lookup(kKey, &secret), SecretResult::kNotFound);
  EXPECT_EQ(store_.Clear(kKey), SecretResult::kNotFound);
  EXPECT_EQ(store_.ClearAll(), SecretResult::kOk);
  EXPECT_EQ(store_.Lookup("other\\key", &secret), SecretResult::kNotFound);
}

TEST_F(PeerSecretServiceTest, ProtectedStringRoundTripsThroughTheKeyring) {
  std::string plain = "s3cret";
  std::string text;
  ASSERT_EQ(ProtectedString::FromPlain(&plain).Persist(&store_, kKey, "Vexalo test", &text),
            SecretResult::kOk);
  EXPECT_EQ(text, ProtectedString::kSecretServiceMarker);
  SecretResult result = SecretResult::kUnavailable;
  EXPECT_EQ(ProtectedString::Restore(&store_, kKey, text, &result).Plain(), "s3cret");
  EXPECT_EQ(result, SecretResult::kOk);
}

}  // namespace
}  // namespace vexalo
