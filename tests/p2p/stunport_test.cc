#include "p2p/base/stunport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "p2p/base/connection.h"
#include "p2p/rawpeer.h"
#include "p2p/virtualqueue.h"
#include "support/logcapture.h"

namespace vexalo {
namespace {

const Network kLoopbackNetwork{"lo", 0x7F000001};

// A StunPort against a scripted server on the test's clock.
class StunPortTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    port_ = std::make_unique<StunPort>(&queue_, nullptr, kLoopbackNetwork,
                                       SocketAddress(0x7F000001, 0), server_.address());
    port_->AddressReady.Connect(this, [this](Port*) { ++ready_; });
  }

  // Answers the server's latest request from `from` with MAPPED-ADDRESS `mapped`.
  void Answer(RawPeer* from, const SocketAddress& mapped, uint8_t family = 1) {
    StunPacket request;
    ASSERT_TRUE(server_.LastStun(&request));
    ASSERT_EQ(request.type(), STUN_BINDING_REQUEST);
    EXPECT_TRUE(request.attributes().empty());
    StunPacket response;
    response.SetType(STUN_BINDING_RESPONSE);
    response.SetTransactionId(request.transaction_id());
    auto attr = StunPacket::CreateAddress(STUN_ATTR_MAPPED_ADDRESS);
    attr->SetAddress(mapped);
    attr->SetFamily(family);
    response.Append(std::move(attr));
    from->SendTo(RawPeer::Serialize(response), port_->local_address());
    queue_.RunDue();
  }

  VirtualQueue queue_;
  RawPeer server_{&queue_};
  std::unique_ptr<StunPort> port_;
  int ready_ = 0;
};

TEST_F(StunPortTest, MappedAddressBecomesTheCandidateAndTheBindingIsRenewed) {
  port_->PrepareAddress();
  queue_.RunDue();
  ASSERT_EQ(server_.received.size(), 1u);
  Answer(&server_, SocketAddress(0xC6120001, 40000));
  ASSERT_EQ(ready_, 1);
  ASSERT_EQ(port_->candidates().size(), 1u);
  EXPECT_EQ(port_->candidates()[0].type, "stun");
  EXPECT_EQ(port_->candidates()[0].address, SocketAddress(0xC6120001, 40000));

  queue_.Advance(9999);
  EXPECT_EQ(server_.received.size(), 1u);
  queue_.Advance(1);
  ASSERT_EQ(server_.received.size(), 2u);
  // A different later answer does not replace the published address.
  Answer(&server_, SocketAddress(0xC6120002, 40001));
  EXPECT_EQ(port_->candidates().size(), 1u);
  EXPECT_EQ(ready_, 1);
}

TEST_F(StunPortTest, WrongFamilyNeverPublishesButKeepsAsking) {
  LogCapture log(kError);
  port_->PrepareAddress();
  queue_.RunDue();
  for (int i = 0; i < 3; ++i) {
    Answer(&server_, SocketAddress(0xC6120001, 40000), 2);
    queue_.Advance(10000);
  }
  EXPECT_EQ(ready_, 0);
  EXPECT_TRUE(port_->candidates().empty());
  EXPECT_EQ(server_.received.size(), 4u);
  EXPECT_TRUE(log.Contains("Binding address has bad family"));
}

TEST_F(StunPortTest, AnswerFromAnotherAddressIsDroppedAndCounted) {
  RawPeer impostor(&queue_);
  port_->PrepareAddress();
  queue_.RunDue();
  Answer(&impostor, SocketAddress(0x01020304, 1));
  EXPECT_TRUE(port_->candidates().empty());
  EXPECT_EQ(port_->foreign_responses(), 1u);
  // The real answer still completes the request.
  Answer(&server_, SocketAddress(0xC6120001, 40000));
  EXPECT_EQ(ready_, 1);
}

TEST_F(StunPortTest, SilentServerTimesOutOnScheduleAndIsAskedAgain) {
  LogCapture log(kError);
  const Tick start = queue_.Now();
  port_->PrepareAddress();
  queue_.RunDue();
  queue_.Advance(9500);
  EXPECT_EQ(server_.received.size(), 9u);
  EXPECT_EQ(log.Matching("Binding request timed out").size(), 1u);
  // The next request 50 ms after the time-out.
  queue_.Advance(49);
  EXPECT_EQ(server_.received.size(), 9u);
  queue_.Advance(1);
  EXPECT_EQ(server_.received.size(), 10u);
  EXPECT_EQ(queue_.Now() - start, 9550);
}

TEST_F(StunPortTest, MediaReachesTheConnectionThroughTheStunSocket) {
  RawPeer peer(&queue_);
  Candidate remote;
  remote.protocol = "udp";
  remote.address = peer.address();
  Connection* connection = port_->CreateConnection(remote, ORIGIN_MESSAGE);
  ASSERT_NE(connection, nullptr);
  connection->ReceivedPing();
  std::string got;
  connection->PacketReceived.Connect(
      this, [&](Connection*, const char* data, size_t size) { got.assign(data, size); });
  peer.SendTo("rtp bytes", port_->local_address());
  queue_.RunDue();
  EXPECT_EQ(got, "rtp bytes");
  remote.protocol = "tcp";
  EXPECT_EQ(port_->CreateConnection(remote, ORIGIN_MESSAGE), nullptr);
}

}  // namespace
}  // namespace vexalo
