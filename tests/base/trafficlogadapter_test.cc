#include "base/net/trafficlogadapter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/net/asyncudpsocket.h"
#include "support/sockettestutil.h"

namespace vexalo {
namespace {

class CapturedLog {
 public:
  CapturedLog() {
    SetLogConsoleSink([this](std::string_view line) { lines.emplace_back(line); });
    LogToDebug(kVerbose);
  }
  ~CapturedLog() { ResetLogging(); }
  bool Contains(const std::string& text) const {
    for (const auto& line : lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
  std::vector<std::string> lines;
};

TEST(TrafficLogAdapterTest, LogsTrafficConnectAndCloseWithSecretsRemoved) {
  CapturedLog log;
  PhysicalSocketServer* hub = CurrentHub();
  std::unique_ptr<EventSocket> listener(hub->CreateEventSocket(kStreamSocket));
  listener->Bind(Loopback());
  listener->Listen(1);
  SocketRecorder listener_events(listener.get());
  TrafficLogAdapter client(hub->CreateEventSocket(kStreamSocket), kInfo, "xmpp", false);
  SocketRecorder client_events(&client);
  client.Connect(listener->GetLocalAddress());
  ASSERT_TRUE(RunUntil([&] { return client_events.connects > 0 && listener_events.reads > 0; }));
  std::unique_ptr<EventSocket> server(listener->Accept(nullptr));

  std::string form = "user=a\r\nPasswd=hunter2\r\n";
  ASSERT_EQ(client.Send(form.data(), form.size()), static_cast<int>(form.size()));
  server->Send("welcome\n", 8);
  std::string got;
  client_events.on_read = [&](EventSocket* s) {
    char buffer[64];
    int n = s->Recv(buffer, sizeof(buffer));
    if (n > 0) got.append(buffer, n);
  };
  ASSERT_TRUE(RunUntil([&] { return got == "welcome\n"; }));
  server->Close();
  ASSERT_TRUE(RunUntil([&] { return client_events.closes > 0; }));

  EXPECT_TRUE(log.Contains("[xmpp] Connected"));
  EXPECT_TRUE(log.Contains("[xmpp] >> user=a"));
  EXPECT_TRUE(log.Contains("[xmpp] >> ## TEXT REMOVED ##"));
  EXPECT_FALSE(log.Contains("hunter2"));
  EXPECT_TRUE(log.Contains("[xmpp] << welcome"));
  // The server closed with our form unread; its close is still an orderly one.
  EXPECT_TRUE(log.Contains("[xmpp] Closed with error: 0"))
      << ::testing::PrintToString(log.lines);
}

TEST(TrafficLogAdapterTest, LogsNothingBelowTheThreshold) {
  CapturedLog log;
  LogToDebug(kWarning);
  PhysicalSocketServer* hub = CurrentHub();
  TrafficLogAdapter a(hub->CreateEventSocket(kDatagramSocket), kInfo, "udp", true);
  std::unique_ptr<EventSocket> b(hub->CreateEventSocket(kDatagramSocket));
  a.Bind(Loopback());
  b->Bind(Loopback());
  EXPECT_EQ(a.SendTo("abc", 3, b->GetLocalAddress()), 3);
  EXPECT_TRUE(log.lines.empty());
}

// A flood of datagrams must not keep the loop from its posted messages.
TEST(DatagramFloodTest, PostedMessagesRunBetweenBoundedRoundsOfPackets) {
  PhysicalSocketServer* hub = CurrentHub();
  AsyncUdpSocket receiver(hub->CreateEventSocket(kDatagramSocket));
  std::unique_ptr<EventSocket> sender(hub->CreateEventSocket(kDatagramSocket));
  receiver.Bind(Loopback());
  sender->Bind(Loopback());
  int packets = 0;
  SlotHost host;
  receiver.ReadPacket.Connect(
      &host, [&](const char*, size_t, const SocketAddress&, PacketSocket*) { ++packets; });
  const int kFlood = 100;  // fits the default receive buffer
  char datagram[100] = {};
  for (int i = 0; i < kFlood; ++i) sender->SendTo(datagram, sizeof(datagram), receiver.GetLocalAddress());

  int packets_when_message_ran = -1;
  class Marker : public MessageTarget {
   public:
    explicit Marker(std::function<void()> fn) : fn_(std::move(fn)) {}
    void HandleMessage(QueuedMessage*) override { fn_(); }

   private:
    std::function<void()> fn_;
  } marker([&] { packets_when_message_ran = packets; });
  ThreadRegistry::Current()->Post(&marker);
  ASSERT_TRUE(RunUntil([&] { return packets == kFlood; }));
  EXPECT_GE(packets_when_message_ran, 0);
  EXPECT_LE(packets_when_message_ran, PhysicalSocketServer::kMaxEventsPerWait);
}

}  // namespace
}  // namespace vexalo
