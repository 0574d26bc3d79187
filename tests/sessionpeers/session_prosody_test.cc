// Two of our clients signed in to a real Prosody open a session in a test namespace and pass
// packets both ways over the path their sockets find. Candidates on 127/8 are refused by the
// peer, so the test runs in a namespace with another local address (tests/scripts/
// p2p-netns.sh) and skips elsewhere.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/runtime/loopthread.h"
#include "base/runtime/queuetaskrunner.h"
#include "p2p/client/sessionstack.h"
#include "p2p/client/sessionworker.h"
#include "p2p/client/xmldescription.h"
#include "p2p/client/xmldescriptionformat.h"
#include "support/liveclient.h"
#include "support/loopbackallocator.h"
#include "support/peers/prosodypeer.h"
#include "support/sockettestutil.h"

namespace vexalo {
namespace {

const std::string kSessionNs = "http://example.test/session";
const std::string kTestNs = "http://example.test/session/test";

// Runs a function on a worker thread and returns once it ran.
class WorkerCall : public MessageTarget {
 public:
  static void Run(LoopThread* thread, std::function<void()> f) {
    WorkerCall call;
    call.f_ = std::move(f);
    thread->Invoke(&call);
  }
  void HandleMessage(QueuedMessage*) override { f_(); }

 private:
  std::function<void()> f_;
};

// One signed-in client with its session stack, worker and test-namespace client.
struct Party {
  Party(QueueTaskRunner* runner, const ProsodyPeer& prosody, const std::string& user,
        uint32_t ip)
      : live(runner, LocalServerSettings(prosody.port(), user, "secret", "desk"),
             prosody.certificate()),
        allocator(&worker, nullptr, ip) {
    worker.Start();
  }
  ~Party() {
    client.reset();
    stack.reset();
    worker.Stop();
  }
  void StartStack() {
    stack = std::make_unique<SessionStack>(live.connection(), &allocator, &worker);
    client = std::make_unique<SessionClient>(stack->registry(), kSessionNs, &format,
                                             stack->local_jid());
    stack->AddClient(client.get());
  }

  LiveClient live;
  SessionWorker worker;
  LoopbackAllocator allocator;
  XmlDescriptionFormat format{kTestNs};
  std::unique_ptr<SessionStack> stack;
  std::unique_ptr<SessionClient> client;
  P2PSocket* socket = nullptr;
  std::mutex lock;
  std::string received;
};

std::shared_ptr<const SessionDescription> Description() {
  return std::make_shared<XmlDescription>(XmlElem(XmlName(kTestNs, "description"), true));
}

TEST(PeerSessionTest, TwoClientsOpenASessionThroughProsodyAndPassPacketsBothWays) {
  uint32_t ip = 0;
  const char* text = getenv("VEXALO_P2P_TEST_IP");
  if (text == nullptr || !SocketAddress::StringToIP(text, &ip)) {
    GTEST_SKIP() << "needs a non-loopback address (run through tests/scripts/p2p-netns.sh)";
  }
  ProsodyPeer prosody;
  ASSERT_TRUE(prosody.started()) << prosody.error();
  prosody.AddUser("alice", "secret");
  prosody.AddUser("bob", "secret");
  QueueTaskRunner runner;
  Party alice(&runner, prosody, "alice", ip);
  Party bob(&runner, prosody, "bob", ip);
  ASSERT_TRUE(RunUntil([&] { return alice.live.Open() && bob.live.Open(); }))
      << alice.live.Traffic() << bob.live.Traffic();
  alice.StartStack();
  bob.StartStack();

  SlotHost host;
  Session* bob_session = nullptr;
  bob.stack->registry()->SessionCreated.Connect(&host, [&](Session* session, bool received) {
    if (!received) return;
    bob_session = session;
    bob.socket = session->CreateP2PSocket("rtp");
  });
  Session* alice_session = alice.client->CreateSession();
  alice.socket = alice_session->CreateP2PSocket("rtp");
  ASSERT_NE(alice.socket, nullptr);
  ASSERT_TRUE(alice_session->Initiate(bob.stack->local_jid(), Description()));
  ASSERT_TRUE(RunUntil([&] {
    return bob_session != nullptr && bob_session->state() == Session::STATE_RECEIVEDINITIATE;
  })) << alice.live.Traffic();
  ASSERT_TRUE(bob_session->Accept(Description()));
  ASSERT_TRUE(RunUntil([&] {
    return alice_session->transport()->any_writable() && bob_session->transport()->any_writable();
  })) << alice.live.Traffic();
  EXPECT_EQ(alice_session->state(), Session::STATE_INPROGRESS);
  EXPECT_EQ(bob_session->state(), Session::STATE_INPROGRESS);

  for (Party* p : {&alice, &bob}) {
    WorkerCall::Run(&p->worker, [p, &host] {
      p->socket->PacketReceived.Connect(&host, [p](P2PSocket*, const char* d, size_t n) {
        std::lock_guard<std::mutex> hold(p->lock);
        p->received.append(d, n);
      });
    });
  }
  int sent_a = 0;
  int sent_b = 0;
  WorkerCall::Run(&alice.worker, [&] { sent_a = alice.socket->Send("hello bob", 9); });
  WorkerCall::Run(&bob.worker, [&] { sent_b = bob.socket->Send("hello alice", 11); });
  EXPECT_EQ(sent_a, 9);
  EXPECT_EQ(sent_b, 11);
  auto got = [](Party* p) {
    std::lock_guard<std::mutex> hold(p->lock);
    return p->received;
  };
  EXPECT_TRUE(RunUntil([&] { return got(&bob) == "hello bob" && got(&alice) == "hello alice"; }))
      << got(&bob) << " / " << got(&alice);
  for (Party* p : {&alice, &bob}) {
    WorkerCall::Run(&p->worker, [p, &host] { p->socket->PacketReceived.Disconnect(&host); });
  }

  // The stack stops with the connection: Alice's session ends with it.
  alice.live.connection()->engine()->Disconnect();
  ASSERT_TRUE(RunUntil([&] { return alice.live.Closed(); }));
  EXPECT_FALSE(alice.stack->running());
  EXPECT_EQ(alice.stack->registry()->session_count(), 0u);
}

}  // namespace
}  // namespace vexalo
