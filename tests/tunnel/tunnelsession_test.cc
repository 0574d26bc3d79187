#include "session/tunnel/tunnelsession.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/net/socketerrors.h"
#include "support/bytepattern.h"
#include "session/tunnel/tunneldescription.h"
#include "session/tunnel/tunnelstream.h"
#include "support/logcapture.h"
#include "tunnel/tunnelparty.h"

namespace vexalo {
namespace {

std::string Pattern(size_t size) { return BytePattern(size, 88172645u); }

bool HasTraffic() { return PartyIp() != 0x7F000001; }

// Alice opens tunnels to Bob; Bob's side answers as the test says.
class TunnelTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    router_.Add(&alice_);
    router_.Add(&bob_);
    bob_.client.IncomingTunnel.Connect(this, [this](TunnelSessionClient*, const std::string& from,
                                                    std::shared_ptr<const TunnelDescription> description,
                                                    Session* session) {
      incoming_from_ = from;
      incoming_ = description;
      bob_session_ = session;
    });
  }
  void Run(int ms) { router_.Run(&queue_, ms); }
  bool RunUntil(const std::function<bool()>& done, int ms) { return router_.RunUntil(&queue_, done, ms); }
  void Watch(TunnelStream* stream, std::vector<std::pair<int, int>>* events) {
    stream->StreamEvent.Connect(this, [events](DataStream*, int e, int error) { events->emplace_back(e, error); });
  }
  std::unique_ptr<TunnelStream> Offer(const std::string& type = "test") {
    auto stream = alice_.client.CreateTunnel(bob_.jid, std::make_shared<TunnelDescription>(type), &queue_);
    Run(50);
    return stream;
  }
  std::unique_ptr<TunnelStream> Answer() {
    return bob_.client.AcceptTunnel(bob_session_, std::make_shared<TunnelDescription>(incoming_->type()), &queue_);
  }

  LogCapture log_{kInfo};
  VirtualQueue queue_;
  TunnelParty alice_{"alice@example.test/a", &queue_};
  TunnelParty bob_{"bob@example.test/b", &queue_};
  TunnelRouter router_;
  std::string incoming_from_;
  std::shared_ptr<const TunnelDescription> incoming_;
  Session* bob_session_ = nullptr;
};

TEST_F(TunnelTest, IncomingTunnelIsAnnouncedAndLeftUnanswered) {
  auto stream = Offer("chat-files");
  ASSERT_NE(incoming_, nullptr);
  EXPECT_EQ(incoming_->type(), "chat-files");
  EXPECT_EQ(incoming_from_, alice_.jid);
  ASSERT_NE(bob_session_, nullptr);
  Run(1000);
  EXPECT_EQ(bob_session_->state(), Session::STATE_RECEIVEDINITIATE);
  EXPECT_EQ(stream->GetState(), STREAM_OPENING);
  // Nothing to read before the tunnel exists: a wait, not an error.
  char buffer[8];
  size_t read = 0;
  int error = 0;
  EXPECT_EQ(stream->Read(buffer, sizeof buffer, &read, &error), SR_BLOCK);
  EXPECT_EQ(alice_.client.tunnel_count(), 1u);
  EXPECT_EQ(bob_.client.tunnel_count(), 1u);
}

TEST_F(TunnelTest, RejectedTunnelClosesTheOfferersStreamAndCleansUp) {
  auto stream = Offer();
  std::vector<std::pair<int, int>> events;
  Watch(stream.get(), &events);
  ASSERT_NE(bob_session_, nullptr);
  ASSERT_TRUE(bob_.client.RejectTunnel(bob_session_));
  Run(200);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], std::make_pair(static_cast<int>(SE_CLOSE), 0));
  EXPECT_EQ(bob_.client.tunnel_count(), 0u);
  stream->Close();
  Run(50);
  EXPECT_EQ(alice_.client.tunnel_count(), 0u);
  size_t written = 0;
  int error = 0;
  EXPECT_EQ(stream->Write("x", 1, &written, &error), SR_ERROR);
  EXPECT_EQ(error, kSocketNotConnected);
}

TEST_F(TunnelTest, StreamClosedBeforeTheAnswerEndsTheSession) {
  auto stream = Offer();
  ASSERT_NE(bob_session_, nullptr);
  stream.reset();
  Run(200);
  EXPECT_EQ(alice_.client.tunnel_count(), 0u);
  EXPECT_EQ(alice_.registry.session_count(), 0u);
  EXPECT_EQ(bob_.registry.session_count(), 0u);
}

TEST_F(TunnelTest, AcceptIsRefusedOutsideAnIncomingOffer) {
  auto stream = Offer();
  ASSERT_NE(bob_session_, nullptr);
  auto answer = Answer();
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(Answer(), nullptr);
}

TEST_F(TunnelTest, StreamCarriesDataBothWaysAndTerminateDeliversOneClose) {
  if (!HasTraffic()) GTEST_SKIP() << "needs a non-loopback address (run through tests/scripts/p2p-netns.sh)";
  auto a = Offer();
  ASSERT_NE(bob_session_, nullptr);
  auto b = Answer();
  ASSERT_NE(b, nullptr);
  std::vector<std::pair<int, int>> a_events;
  std::vector<std::pair<int, int>> b_events;
  Watch(a.get(), &a_events);
  Watch(b.get(), &b_events);
  ASSERT_TRUE(RunUntil([&] { return a->GetState() == STREAM_OPEN && b->GetState() == STREAM_OPEN; }, 10000));

  const std::string data = Pattern(1 << 20);
  const std::string reply = Pattern(5000);
  size_t sent = 0;
  std::string got;
  std::string got_reply;
  size_t reply_sent = 0;
  char buffer[16384];
  ASSERT_TRUE(RunUntil(
      [&] {
        size_t n = 0;
        int error = 0;
        while (sent < data.size() && a->Write(data.data() + sent, data.size() - sent, &n, &error) == SR_SUCCESS) {
          sent += n;
        }
        while (reply_sent < reply.size() &&
               b->Write(reply.data() + reply_sent, reply.size() - reply_sent, &n, &error) == SR_SUCCESS) {
          reply_sent += n;
        }
        while (b->Read(buffer, sizeof buffer, &n, &error) == SR_SUCCESS) got.append(buffer, n);
        while (a->Read(buffer, sizeof buffer, &n, &error) == SR_SUCCESS) got_reply.append(buffer, n);
        return got.size() == data.size() && got_reply.size() == reply.size();
      },
      60000));
  EXPECT_TRUE(got == data);
  EXPECT_EQ(got_reply, reply);
  ASSERT_FALSE(a_events.empty());
  EXPECT_EQ(a_events[0].first, SE_OPEN | SE_READ | SE_WRITE);

  // Bob hangs up: Alice's stream hears of it once, with no error.
  b_events.clear();
  a_events.clear();
  ASSERT_TRUE(bob_session_->Terminate());
  Run(500);
  int closes = 0;
  for (const auto& [events, error] : a_events) {
    if (events & SE_CLOSE) {
      ++closes;
      EXPECT_EQ(error, 0);
    }
  }
  EXPECT_EQ(closes, 1);
  a.reset();
  b.reset();
  Run(10000);
  EXPECT_EQ(alice_.client.tunnel_count(), 0u);
  EXPECT_EQ(bob_.client.tunnel_count(), 0u);
}

TEST_F(TunnelTest, ClosingTheStreamLetsQueuedDataDrainThenEverythingGoes) {
  if (!HasTraffic()) GTEST_SKIP() << "needs a non-loopback address (run through tests/scripts/p2p-netns.sh)";
  auto a = Offer();
  ASSERT_NE(bob_session_, nullptr);
  auto b = Answer();
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(RunUntil([&] { return a->GetState() == STREAM_OPEN; }, 10000));
  const std::string data = Pattern(50000);
  size_t n = 0;
  int error = 0;
  ASSERT_EQ(a->Write(data.data(), data.size(), &n, &error), SR_SUCCESS);
  ASSERT_EQ(n, data.size());
  a->Close();
  std::string got;
  char buffer[4096];
  ASSERT_TRUE(RunUntil(
      [&] {
        while (b->Read(buffer, sizeof buffer, &n, &error) == SR_SUCCESS) got.append(buffer, n);
        return got.size() == data.size();
      },
      20000));
  EXPECT_TRUE(got == data);
  b->Close();
  ASSERT_TRUE(RunUntil([&] { return alice_.client.tunnel_count() == 0 && bob_.client.tunnel_count() == 0; }, 20000));
  EXPECT_EQ(alice_.registry.session_count(), 0u);
  EXPECT_EQ(bob_.registry.session_count(), 0u);
}

}  // namespace
}  // namespace vexalo
