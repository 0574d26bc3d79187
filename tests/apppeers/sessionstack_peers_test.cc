// The application's session stack follows the connection: made when a sign-in to a real
// Prosody opens, gone when the user signs out.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/phoneapp.h"
#include "app/signinmanager.h"
#include "p2p/client/sessionstack.h"
#include "support/loopbackallocator.h"
#include "support/peers/prosodypeer.h"
#include "support/signinpeerfixture.h"

namespace vexalo {
namespace {

class PeerSessionStackTest : public SignInPeerFixture {};

TEST_F(PeerSessionStackTest, StartsWhenTheConnectionOpensAndStopsWithIt) {
  ProsodyPeer prosody;
  ASSERT_TRUE(prosody.started()) << prosody.error();
  prosody.AddUser("alice", "pw-alice");
  LoopbackAllocator allocator(app_.session_worker());
  app_.SetPortAllocator(&allocator);
  int started = 0;
  app_.SignalSessionStackStarted.Connect(this, [&](SessionStack*) { ++started; });
  EXPECT_EQ(app_.session_stack(), nullptr);

  MakeManager(prosody.certificate());
  watched_->SignIn("alice@localhost", SecretText::FromClearText("pw-alice"), "127.0.0.1",
                   prosody.port());
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn)) << testing::PrintToString(statuses_);
  ASSERT_NE(app_.session_stack(), nullptr);
  EXPECT_EQ(started, 1);
  EXPECT_TRUE(app_.session_stack()->running());
  EXPECT_EQ(app_.session_stack()->local_jid(), app_.bound_address().ToString());

  manager_->SignOut();
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedOut, 5000));
  EXPECT_EQ(app_.session_stack(), nullptr);
  app_.SetPortAllocator(nullptr);
}

}  // namespace
}  // namespace vexalo
