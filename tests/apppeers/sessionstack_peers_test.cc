// The application's session stack follows the connection: made when a sign-in to a real
// Prosody opens, gone when the user signs out.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "app/accountportallocator.h"
#include "app/phoneapp.h"
#include "app/signinmanager.h"
#include "p2p/client/allocatorsession.h"
#include "p2p/client/portallocator.h"
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

// The application's own allocator: made at sign-in, its sessions give direct candidates for
// an account of a server without the service's relay (Prosody answers the relay information
// request with an error), and it stays across sign-ins.
TEST_F(PeerSessionStackTest, TheRealAllocatorGivesDirectCandidatesWithoutTheServicesRelay) {
  ProsodyPeer prosody;
  ASSERT_TRUE(prosody.started()) << prosody.error();
  prosody.AddUser("alice", "pw-alice");
  app_.UseServicePortAllocator(ServiceProfile::Defaults(), /*include_loopback=*/true);
  MakeManager(prosody.certificate());
  watched_->SignIn("alice@localhost", SecretText::FromClearText("pw-alice"), "127.0.0.1",
                   prosody.port());
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedIn)) << testing::PrintToString(statuses_);
  ASSERT_NE(app_.account_allocator(), nullptr);
  ASSERT_NE(app_.session_stack(), nullptr);

  struct Probe : MessageTarget, SlotHost {
    PortAllocator* allocator = nullptr;
    std::unique_ptr<AllocatorSession> session;
    std::atomic<bool> udp{false};
    std::atomic<bool> relay{false};
    void HandleMessage(QueuedMessage* msg) override {
      if (msg->id == 1) {
        session = allocator->CreateSession("rtp", 0);
        session->CandidatesReady.Connect(this, [this](AllocatorSession*,
                                                      const std::vector<Candidate>& cs) {
          for (const Candidate& c : cs) {
            if (c.type == "local" && c.protocol == "udp") udp = true;
            if (c.type == "relay") relay = true;
          }
        });
        session->GetInitialPorts();
        session->StartGetAllPorts();
      } else {
        session.reset();
      }
    }
  } probe;
  probe.allocator = app_.account_allocator()->allocator();
  app_.session_worker()->Post(&probe, 1);
  EXPECT_TRUE(Pump([&] { return probe.udp.load(); }, 10000));
  EXPECT_FALSE(probe.relay);
  static_cast<LoopThread*>(app_.session_worker())->Invoke(&probe, 2);

  AccountPortAllocator* first = app_.account_allocator();
  manager_->SignOut();
  ASSERT_TRUE(PumpUntilState(LoginState::kSignedOut, 5000));
  EXPECT_EQ(app_.account_allocator(), first);
}

}  // namespace
}  // namespace vexalo
