#include "base/net/asynctcpsocket.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/net/asyncudpsocket.h"
#include "base/net/socketerrors.h"
#include "support/sockettestutil.h"

namespace vexalo {
namespace {

std::string Frame(const std::string& payload) {
  std::string frame;
  frame.push_back(static_cast<char>(payload.size() >> 8));
  frame.push_back(static_cast<char>(payload.size() & 0xFF));
  return frame + payload;
}

TEST(AsyncTcpFramingTest, FramesSplitAtEveryOffsetAreDeliveredWholeAndInOrder) {
  const std::vector<std::string> packets = {"first", "", std::string(300, 'm'), "last"};
  std::string stream;
  for (const auto& p : packets) stream += Frame(p);
  for (size_t split = 0; split <= stream.size(); ++split) {
    std::vector<std::string> got;
    auto collect = [&](const char* data, size_t length) { got.emplace_back(data, length); };
    std::vector<char> buffer(AsyncTcpSocket::kBufferSize);
    size_t fill = 0;
    for (const std::string& piece : {stream.substr(0, split), stream.substr(split)}) {
      std::copy(piece.begin(), piece.end(), buffer.begin() + fill);
      fill = AsyncTcpSocket::ExtractFrames(buffer.data(), fill + piece.size(), collect);
    }
    EXPECT_EQ(got, packets) << "split at " << split;
    EXPECT_EQ(fill, 0u);
  }
}

TEST(AsyncTcpFramingTest, IncompleteFrameWaitsForTheRest) {
  std::string frame = Frame(std::string(1000, 'k'));
  std::vector<char> buffer(AsyncTcpSocket::kBufferSize);
  std::copy(frame.begin(), frame.begin() + 602, buffer.begin());
  int delivered = 0;
  size_t fill = AsyncTcpSocket::ExtractFrames(buffer.data(), 602,
                                              [&](const char*, size_t) { ++delivered; });
  EXPECT_EQ(delivered, 0);
  EXPECT_EQ(fill, 602u);
}

// A connected pair of framed sockets on loopback.
class AsyncTcpSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PhysicalSocketServer* hub = CurrentHub();
    listener_.reset(hub->CreateEventSocket(kStreamSocket));
    listener_->Bind(Loopback());
    listener_->Listen(1);
    EventSocket* raw_client = hub->CreateEventSocket(kStreamSocket);
    client_ = std::make_unique<AsyncTcpSocket>(raw_client);
    SocketRecorder listener_events(listener_.get());
    bool connected = false;
    client_->ConnectEvent.Connect(&host_, [&](PacketSocket*) { connected = true; });
    client_->Connect(listener_->GetLocalAddress());
    ASSERT_TRUE(RunUntil([&] { return connected && listener_events.reads > 0; }));
    peer_.reset(listener_->Accept(nullptr));
    ASSERT_NE(peer_, nullptr);
    peer_events_ = std::make_unique<SocketRecorder>(peer_.get());
    client_->ReadPacket.Connect(&host_, [this](const char* data, size_t length,
                                              const SocketAddress& from, PacketSocket*) {
      packets_.emplace_back(data, length);
      from_ = from;
    });
    client_->CloseEvent.Connect(&host_, [this](PacketSocket*, int error) {
      ++closes_;
      close_error_ = error;
    });
  }

  std::string ReadFromPeer(size_t count) {
    std::string got;
    RunUntil([&] {
      char buffer[70000];
      int n;
      while ((n = peer_->Recv(buffer, sizeof(buffer))) > 0) got.append(buffer, n);
      return got.size() >= count;
    });
    return got;
  }

  SlotHost host_;
  std::unique_ptr<EventSocket> listener_, peer_;
  std::unique_ptr<AsyncTcpSocket> client_;
  std::unique_ptr<SocketRecorder> peer_events_;
  std::vector<std::string> packets_;
  SocketAddress from_;
  int closes_ = 0;
  int close_error_ = -1;
};

TEST_F(AsyncTcpSocketTest, TwoFramesInOneReadArriveAsTwoPackets) {
  std::string wire = Frame("hello") + Frame("world");
  ASSERT_EQ(peer_->Send(wire.data(), wire.size()), static_cast<int>(wire.size()));
  ASSERT_TRUE(RunUntil([&] { return packets_.size() == 2; }));
  EXPECT_EQ(packets_, (std::vector<std::string>{"hello", "world"}));
  EXPECT_EQ(from_, peer_->GetLocalAddress());
}

TEST_F(AsyncTcpSocketTest, SendFramesAndRefusesOversizedPackets) {
  std::string largest(65535, 'L');
  EXPECT_EQ(client_->Send(largest.data(), largest.size()), 65535);
  std::string got = ReadFromPeer(65537);
  EXPECT_EQ(got, Frame(largest));

  std::string too_large(65536, 'T');
  EXPECT_EQ(client_->Send(too_large.data(), too_large.size()), -1);
  EXPECT_EQ(client_->GetError(), kSocketMessageSize);
}

TEST_F(AsyncTcpSocketTest, PacketSentWhileAnotherIsPendingIsDropped) {
  std::string big(60000, 'B');
  // Fill the connection until a frame is only partly written.
  int frames = 0;
  while (frames < 1000) {
    ASSERT_EQ(client_->Send(big.data(), big.size()), 60000);
    ++frames;
    if (client_->HasPendingOutput()) break;
  }
  ASSERT_TRUE(client_->HasPendingOutput());
  EXPECT_EQ(client_->Send("x", 1), 1);  // accepted, and silently dropped
  std::string got = ReadFromPeer(static_cast<size_t>(frames) * 60002);
  EXPECT_EQ(got.size(), static_cast<size_t>(frames) * 60002);  // the "x" frame never came
}

TEST_F(AsyncTcpSocketTest, SendToAnyoneButThePeerFails) {
  EXPECT_EQ(client_->SendTo("a", 1, Loopback(1)), -1);
  EXPECT_EQ(client_->GetError(), kSocketNotConnected);
  EXPECT_EQ(client_->SendTo("a", 1, client_->GetRemoteAddress()), 1);
}

TEST_F(AsyncTcpSocketTest, PeerClosingInsideAFrameIsAnErrorAndNothingPartialArrives) {
  std::string wire = Frame("whole") + Frame(std::string(100, 'p')).substr(0, 40);
  peer_->Send(wire.data(), wire.size());
  peer_->Close();
  ASSERT_TRUE(RunUntil([&] { return closes_ > 0; }));
  EXPECT_EQ(packets_, (std::vector<std::string>{"whole"}));
  EXPECT_EQ(close_error_, kSocketConnectionAborted);
}

TEST_F(AsyncTcpSocketTest, CleanCloseBetweenFramesHasNoError) {
  std::string wire = Frame("bye");
  peer_->Send(wire.data(), wire.size());
  peer_->Close();
  ASSERT_TRUE(RunUntil([&] { return closes_ > 0; }));
  EXPECT_EQ(packets_.size(), 1u);
  EXPECT_EQ(close_error_, 0);
}

TEST(AsyncUdpSocketTest, EachDatagramIsOnePacketWithItsSender) {
  PhysicalSocketServer* hub = CurrentHub();
  AsyncUdpSocket a(hub->CreateEventSocket(kDatagramSocket));
  AsyncUdpSocket b(hub->CreateEventSocket(kDatagramSocket));
  ASSERT_EQ(a.Bind(Loopback()), 0);
  ASSERT_EQ(b.Bind(Loopback()), 0);
  SlotHost host;
  std::vector<std::string> got;
  SocketAddress sender;
  b.ReadPacket.Connect(&host, [&](const char* data, size_t length, const SocketAddress& from,
                                  PacketSocket*) {
    got.emplace_back(data, length);
    sender = from;
  });
  for (const char* text : {"one", "", "three"}) {
    a.SendTo(text, std::string(text).size(), b.GetLocalAddress());
  }
  ASSERT_TRUE(RunUntil([&] { return got.size() == 3; }));
  EXPECT_EQ(got, (std::vector<std::string>{"one", "", "three"}));
  EXPECT_EQ(sender, a.GetLocalAddress());
}

}  // namespace
}  // namespace vexalo
