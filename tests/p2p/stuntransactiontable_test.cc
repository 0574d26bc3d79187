#include "p2p/base/stuntransactiontable.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "p2p/base/randomgenerator.h"
#include "p2p/base/wirebuffer.h"
#include "p2p/virtualqueue.h"
#include "support/logcapture.h"

namespace vexalo {
namespace {

struct Outcomes {
  int responses = 0;
  int errors = 0;
  int timeouts = 0;
  int rtt = -1;
};

class RecordingTransaction : public StunTransaction {
 public:
  explicit RecordingTransaction(Outcomes* outcomes, uint16_t type = STUN_BINDING_REQUEST)
      : outcomes_(outcomes), type_(type) {}
  void Prepare(StunPacket* packet) override { packet->SetType(type_); }
  void OnResponse(const StunPacket&) override {
    ++outcomes_->responses;
    outcomes_->rtt = Elapsed();
  }
  void OnErrorResponse(const StunPacket&) override { ++outcomes_->errors; }
  void OnTimeout() override { ++outcomes_->timeouts; }

 private:
  Outcomes* outcomes_;
  uint16_t type_;
};

class StunTransactionTableTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    table_.SendPacket.Connect(this, [this](const char* data, size_t size) {
      sent_.push_back(queue_.Now());
      last_.assign(data, size);
    });
  }

  // Sends one transaction and returns its id.
  std::string Start(uint16_t type = STUN_BINDING_REQUEST) {
    auto t = std::make_unique<RecordingTransaction>(&outcomes_, type);
    std::string id = t->id();
    table_.Send(std::move(t));
    queue_.RunDue();
    return id;
  }

  std::string Answer(const std::string& id, uint16_t type) {
    StunPacket response;
    response.SetType(type);
    response.SetTransactionId(id);
    WireBuffer bytes;
    response.Serialize(&bytes);
    return std::string(bytes.Data(), bytes.Length());
  }

  bool Deliver(const std::string& bytes) { return table_.CheckResponse(bytes.data(), bytes.size()); }

  VirtualQueue queue_;
  StunTransactionTable table_{&queue_};
  Outcomes outcomes_;
  std::vector<Tick> sent_;
  std::string last_;
};

TEST_F(StunTransactionTableTest, UnansweredRequestFollowsTheScheduleAndTimesOutOnce) {
  const Tick start = queue_.Now();
  Start();
  queue_.Advance(20000);
  std::vector<Tick> offsets;
  for (Tick t : sent_) offsets.push_back(t - start);
  EXPECT_EQ(offsets, (std::vector<Tick>{0, 100, 300, 700, 1500, 3100, 4700, 6300, 7900}));
  EXPECT_EQ(outcomes_.timeouts, 1);
  EXPECT_EQ(table_.size(), 0u);
}

TEST_F(StunTransactionTableTest, TimeOutComesAt9500Milliseconds) {
  Start();
  queue_.Advance(9499);
  EXPECT_EQ(outcomes_.timeouts, 0);
  queue_.Advance(1);
  EXPECT_EQ(outcomes_.timeouts, 1);
}

TEST_F(StunTransactionTableTest, RetransmissionsSendTheSameBytes) {
  Start();
  const std::string first = last_;
  queue_.Advance(100);
  EXPECT_EQ(last_, first);
  ASSERT_EQ(sent_.size(), 2u);
}

TEST_F(StunTransactionTableTest, ResponseEndsTheTransactionWithItsRoundTrip) {
  std::string id = Start();
  queue_.Advance(150);  // resent at 100
  EXPECT_TRUE(Deliver(Answer(id, STUN_BINDING_RESPONSE)));
  EXPECT_EQ(outcomes_.responses, 1);
  EXPECT_EQ(outcomes_.rtt, 50);
  // A duplicate finds nothing; nothing more is sent or reported.
  EXPECT_FALSE(Deliver(Answer(id, STUN_BINDING_RESPONSE)));
  queue_.Advance(20000);
  EXPECT_EQ(sent_.size(), 2u);
  EXPECT_EQ(outcomes_.responses + outcomes_.errors + outcomes_.timeouts, 1);
}

TEST_F(StunTransactionTableTest, ErrorResponseOfTheRequestKind) {
  std::string id = Start(STUN_ALLOCATE_REQUEST);
  EXPECT_TRUE(Deliver(Answer(id, STUN_ALLOCATE_ERROR_RESPONSE)));
  EXPECT_EQ(outcomes_.errors, 1);
}

TEST_F(StunTransactionTableTest, WrongTypeLeavesTheTransactionRunning) {
  LogCapture log(kError);
  std::string id = Start(STUN_ALLOCATE_REQUEST);
  EXPECT_FALSE(Deliver(Answer(id, STUN_BINDING_RESPONSE)));
  EXPECT_TRUE(log.Contains("Received response with wrong type: 257 (expecting 259)")) << log.text();
  queue_.Advance(100);
  EXPECT_EQ(sent_.size(), 2u);
  EXPECT_TRUE(Deliver(Answer(id, STUN_ALLOCATE_RESPONSE)));
  EXPECT_EQ(outcomes_.responses, 1);
}

TEST_F(StunTransactionTableTest, BytesThatAnswerNothingAreNotParsed) {
  std::string id = Start();
  EXPECT_FALSE(Deliver("0123456789"));
  EXPECT_FALSE(Deliver(Answer("ZZZZZZZZZZZZZZZZ", STUN_BINDING_RESPONSE)));
  // The right id on a message that does not parse.
  std::string broken = Answer(id, STUN_BINDING_RESPONSE);
  broken[3] = 8;
  EXPECT_FALSE(Deliver(broken));
  EXPECT_EQ(table_.size(), 1u);
}

TEST_F(StunTransactionTableTest, ClearStopsEverythingAtOnce) {
  Start();
  Start();
  table_.Clear();
  queue_.Advance(20000);
  EXPECT_EQ(sent_.size(), 2u);
  EXPECT_EQ(outcomes_.timeouts, 0);
  EXPECT_EQ(queue_.Size(), 0u);
}

TEST_F(StunTransactionTableTest, RequestNotYetSentCannotBeAnswered) {
  auto t = std::make_unique<RecordingTransaction>(&outcomes_);
  std::string id = t->id();
  table_.SendDelayed(std::move(t), 500);
  EXPECT_FALSE(Deliver(Answer(id, STUN_BINDING_RESPONSE)));
  queue_.Advance(500);
  EXPECT_TRUE(Deliver(Answer(id, STUN_BINDING_RESPONSE)));
}

TEST_F(StunTransactionTableTest, IdsAreRandomFromTheAlphabet) {
  StunTransaction a;
  StunTransaction b;
  EXPECT_NE(a.id(), b.id());
  EXPECT_EQ(a.id().size(), 16u);
  EXPECT_EQ(a.id().find_first_not_of(RandomGenerator::kAlphabet), std::string::npos);
}

}  // namespace
}  // namespace vexalo
