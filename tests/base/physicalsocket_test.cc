#include "base/net/physicalsocket.h"

#include <gtest/gtest.h>
#include <glib.h>

#include <memory>
#include <string>
#include <thread>

#include "base/runtime/glibqueuesource.h"
#include "base/net/socketdispatcher.h"
#include "base/net/socketerrors.h"
#include "support/sockettestutil.h"

namespace vexalo {
namespace {

// A listening socket on loopback and a connected pair made through it.
class SocketPairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hub_ = CurrentHub();
    listener_.reset(hub_->CreateEventSocket(kStreamSocket));
    ASSERT_EQ(listener_->Bind(Loopback()), 0);
    ASSERT_EQ(listener_->Listen(5), 0);
    port_ = listener_->GetLocalAddress().port();
  }

  void ConnectPair() {
    client_.reset(hub_->CreateEventSocket(kStreamSocket));
    client_events_ = std::make_unique<SocketRecorder>(client_.get());
    SocketRecorder listener_events(listener_.get());
    int rc = client_->Connect(Loopback(port_));
    if (rc != 0) {
      ASSERT_TRUE(IsBlockingError(client_->GetError())) << client_->GetError();
    }
    ASSERT_TRUE(RunUntil([&] { return listener_events.reads > 0 && client_events_->connects > 0; }));
    SocketAddress from;
    server_.reset(listener_->Accept(&from));
    ASSERT_NE(server_, nullptr);
    EXPECT_EQ(from, client_->GetLocalAddress());
    server_events_ = std::make_unique<SocketRecorder>(server_.get());
    EXPECT_EQ(client_->GetState(), CONN_CONNECTED);
    EXPECT_EQ(server_->GetState(), CONN_CONNECTED);
  }

  PhysicalSocketServer* hub_ = nullptr;
  std::unique_ptr<EventSocket> listener_, client_, server_;
  std::unique_ptr<SocketRecorder> client_events_, server_events_;
  uint16_t port_ = 0;
};

TEST_F(SocketPairTest, ConnectIsReportedOnceThenWriteReadiness) {
  ConnectPair();
  ASSERT_TRUE(RunUntil([&] { return client_events_->writes > 0; }));
  EXPECT_EQ(client_events_->connects, 1);
  EXPECT_EQ(client_events_->closes, 0);
}

TEST_F(SocketPairTest, RefusedConnectIsACloseEventWithTheError) {
  // A port that was just free: nobody listens there.
  std::unique_ptr<EventSocket> probe(hub_->CreateEventSocket(kStreamSocket));
  probe->Bind(Loopback());
  uint16_t dead_port = probe->GetLocalAddress().port();
  probe->Close();

  std::unique_ptr<EventSocket> socket(hub_->CreateEventSocket(kStreamSocket));
  SocketRecorder events(socket.get());
  socket->Connect(Loopback(dead_port));
  ASSERT_TRUE(RunUntil([&] { return events.closes > 0; }));
  EXPECT_EQ(events.close_error, kSocketConnectionRefused);
  EXPECT_EQ(events.connects, 0);
}

TEST_F(SocketPairTest, PeerCloseComesAfterAllDataWasRead) {
  ConnectPair();
  std::string received;
  bool data_complete_at_close = false;
  server_events_->on_read = [&](EventSocket* s) {
    char buffer[7];  // small reads: several read events before the close
    int n = s->Recv(buffer, sizeof(buffer));
    if (n > 0) received.append(buffer, n);
  };
  server_->CloseEvent.Connect(server_events_.get(), [&](EventSocket*, int) {
    data_complete_at_close = received.size() == 100;
  });
  std::string payload(100, 'x');
  ASSERT_EQ(client_->Send(payload.data(), payload.size()), 100);
  client_->Close();
  ASSERT_TRUE(RunUntil([&] { return server_events_->closes > 0; }));
  EXPECT_TRUE(data_complete_at_close);
  EXPECT_EQ(server_events_->close_error, 0);
  EXPECT_GT(server_events_->reads, 1);

  // After the close a read is a would-block, not an end-of-stream count of 0.
  char byte;
  EXPECT_EQ(server_->Recv(&byte, 1), -1);
  EXPECT_EQ(server_->GetError(), kSocketWouldBlock);
}

TEST_F(SocketPairTest, UnreadDataHoldsTheCloseBack) {
  ConnectPair();
  server_events_->on_read = nullptr;  // nobody reads
  client_->Send("abc", 3);
  client_->Close();
  RunUntil([&] { return server_events_->reads > 0; });
  for (int i = 0; i < 10; ++i) ThreadRegistry::Current()->RunFor(2);
  EXPECT_EQ(server_events_->closes, 0);
  char buffer[8];
  EXPECT_EQ(server_->Recv(buffer, sizeof(buffer)), 3);
  ASSERT_TRUE(RunUntil([&] { return server_events_->closes > 0; }));
}

// Closing with input we never read must not reset the connection: a reset would lose what we
// sent last (a closing "</stream:stream>") before the peer read it.
TEST_F(SocketPairTest, CloseWithUnreadInputIsAnOrderlyCloseNotAReset) {
  ConnectPair();
  std::string reply(3000, 'r');
  ASSERT_EQ(server_->Send(reply.data(), reply.size()), 3000);
  ASSERT_TRUE(RunUntil([&] { return client_events_->reads > 0; }));
  ASSERT_EQ(client_->Send("bye", 3), 3);
  client_->Close();  // the reply is still unread
  std::string received;
  server_events_->on_read = [&](EventSocket* s) {
    char buffer[64];
    int n = s->Recv(buffer, sizeof(buffer));
    if (n > 0) received.append(buffer, n);
  };
  ASSERT_TRUE(RunUntil([&] { return server_events_->closes > 0; }));
  EXPECT_EQ(received, "bye");
  EXPECT_EQ(server_events_->close_error, 0);
}

TEST_F(SocketPairTest, ReadHandlerThatClosesStopsTheRestOfTheRound) {
  ConnectPair();
  // A fresh accepted socket wants both read and write: data makes both due in one round.
  server_events_->on_read = [&](EventSocket* s) { s->Close(); };
  client_->Send("x", 1);
  ASSERT_TRUE(RunUntil([&] { return server_events_->reads > 0; }));
  for (int i = 0; i < 5; ++i) ThreadRegistry::Current()->RunFor(2);
  EXPECT_EQ(server_events_->writes, 0);
  EXPECT_EQ(server_events_->closes, 0);
}

TEST_F(SocketPairTest, WouldBlockRearmsWriteReadiness) {
  ConnectPair();
  RunUntil([&] { return client_events_->writes > 0; });
  int writes_before = client_events_->writes;
  std::string chunk(64 * 1024, 'y');
  size_t sent = 0;
  for (;;) {
    int n = client_->Send(chunk.data(), chunk.size());
    if (n < 0) break;
    sent += static_cast<size_t>(n);
  }
  EXPECT_EQ(client_->GetError(), kSocketWouldBlock);
  EXPECT_EQ(client_events_->writes, writes_before);  // no readiness until the peer drains
  size_t drained = 0;
  server_events_->on_read = [&](EventSocket* s) {
    char buffer[65536];
    int n;
    while ((n = s->Recv(buffer, sizeof(buffer))) > 0) drained += static_cast<size_t>(n);
  };
  ASSERT_TRUE(RunUntil([&] { return client_events_->writes > writes_before; }));
  EXPECT_EQ(client_events_->writes, writes_before + 1);
  ASSERT_TRUE(RunUntil([&] { return drained == sent; }));
}

TEST_F(SocketPairTest, WaitWithoutIoLeavesSocketsAloneUntilWokenUp) {
  ConnectPair();
  client_->Send("z", 1);
  EXPECT_TRUE(hub_->Wait(30, false));
  EXPECT_EQ(server_events_->reads, 0);
  std::thread waker([&] { hub_->WakeUp(); });
  EXPECT_TRUE(hub_->Wait(kWaitForever, false));
  waker.join();
  EXPECT_EQ(server_events_->reads, 0);
  ASSERT_TRUE(RunUntil([&] { return server_events_->reads > 0; }));
}

TEST_F(SocketPairTest, EstimateMtuNeedsAConnectionAndSnapsToAPlateau) {
  std::unique_ptr<EventSocket> lonely(hub_->CreateEventSocket(kDatagramSocket));
  uint16_t mtu = 0;
  EXPECT_EQ(lonely->EstimateMTU(&mtu), -1);
  EXPECT_EQ(lonely->GetError(), kSocketNotConnected);
  ConnectPair();
  ASSERT_EQ(client_->EstimateMTU(&mtu), 0);
  EXPECT_EQ(mtu, 65535);  // loopback's 65536 snaps down to the top plateau
  EXPECT_EQ(client_->SetOption(OPT_DONT_FRAGMENT, 1), 0);
}

TEST(PhysicalSocketTest, PlateausSnapDownAndNothingFitsBelowTheSmallest) {
  struct Case {
    int mtu;
    uint16_t plateau;
  } cases[] = {{65536, 65535}, {65535, 65535}, {9000, 8166}, {1500, 1492}, {1492, 1492},
               {576, 508},     {68, 68},       {67, 0},     {0, 0},       {-1, 0}};
  for (const Case& c : cases) EXPECT_EQ(PhysicalSocket::SnapToPlateau(c.mtu), c.plateau) << c.mtu;
}

TEST(PhysicalSocketTest, DatagramsCarryTheirSenderAddress) {
  PhysicalSocketServer* hub = CurrentHub();
  std::unique_ptr<EventSocket> a(hub->CreateEventSocket(kDatagramSocket));
  std::unique_ptr<EventSocket> b(hub->CreateEventSocket(kDatagramSocket));
  ASSERT_EQ(a->Bind(Loopback()), 0);
  ASSERT_EQ(b->Bind(Loopback()), 0);
  SocketRecorder b_events(b.get());
  std::string got;
  SocketAddress sender;
  b_events.on_read = [&](EventSocket* s) {
    char buffer[100];
    int n = s->RecvFrom(buffer, sizeof(buffer), &sender);
    if (n >= 0) got.assign(buffer, n);
  };
  ASSERT_EQ(a->SendTo("hello", 5, b->GetLocalAddress()), 5);
  ASSERT_TRUE(RunUntil([&] { return !got.empty(); }));
  EXPECT_EQ(got, "hello");
  EXPECT_EQ(sender, a->GetLocalAddress());
}

TEST(PhysicalSocketTest, BlockingSocketWorksWithoutEvents) {
  PhysicalSocketServer* hub = CurrentHub();
  std::unique_ptr<EventSocket> listener(hub->CreateSocket(kStreamSocket));
  ASSERT_EQ(listener->Bind(Loopback()), 0);
  ASSERT_EQ(listener->Listen(1), 0);
  std::unique_ptr<EventSocket> client(hub->CreateSocket(kStreamSocket));
  ASSERT_EQ(client->Connect(listener->GetLocalAddress()), 0);
  EXPECT_EQ(client->GetState(), CONN_CONNECTED);
  std::unique_ptr<EventSocket> accepted(listener->Accept(nullptr));
  ASSERT_NE(accepted, nullptr);
  EXPECT_EQ(client->Send("ping", 4), 4);
}

TEST(PhysicalSocketTest, ConnectByHostNameResolvesWithoutBlockingTheLoop) {
  PhysicalSocketServer* hub = CurrentHub();
  std::unique_ptr<EventSocket> listener(hub->CreateEventSocket(kStreamSocket));
  listener->Bind(Loopback());
  listener->Listen(1);
  std::unique_ptr<EventSocket> client(hub->CreateEventSocket(kStreamSocket));
  SocketRecorder events(client.get());
  SocketAddress by_name("localhost", listener->GetLocalAddress().port(), false);
  ASSERT_TRUE(by_name.IsUnresolved());
  EXPECT_EQ(client->Connect(by_name), -1);
  EXPECT_EQ(client->GetError(), kSocketWouldBlock);
  EXPECT_EQ(client->GetState(), CONN_CONNECTING);
  ASSERT_TRUE(RunUntil([&] { return events.connects > 0 || events.closes > 0; }));
  EXPECT_EQ(events.connects, 1) << "close error " << events.close_error;
  EXPECT_TRUE(client->GetRemoteAddress().IsLoopbackIP());
}

TEST(PhysicalSocketTest, ClosingWhileResolvingReportsNothing) {
  PhysicalSocketServer* hub = CurrentHub();
  std::unique_ptr<EventSocket> client(hub->CreateEventSocket(kStreamSocket));
  SocketRecorder events(client.get());
  client->Connect(SocketAddress("localhost", 9, false));
  client->Close();
  for (int i = 0; i < 20; ++i) ThreadRegistry::Current()->RunFor(5);
  EXPECT_EQ(events.connects + events.closes, 0);
}

// The UI thread: sockets made there deliver their events through the GLib main loop.
TEST(PhysicalSocketTest, MainLoopDeliversSocketEventsOnTheUiThread) {
  auto source = GlibQueueSource::ForMainThread();
  PhysicalSocketServer* hub = CurrentHub();
  std::unique_ptr<EventSocket> listener(hub->CreateEventSocket(kStreamSocket));
  listener->Bind(Loopback());
  listener->Listen(1);
  SocketRecorder listener_events(listener.get());
  std::unique_ptr<EventSocket> client(hub->CreateEventSocket(kStreamSocket));
  SocketRecorder client_events(client.get());
  client->Connect(listener->GetLocalAddress());
  for (int i = 0; i < 200 && (client_events.connects == 0 || listener_events.reads == 0); ++i) {
    g_main_context_iteration(nullptr, TRUE);
  }
  EXPECT_EQ(client_events.connects, 1);
  EXPECT_EQ(listener_events.reads, 1);
  std::unique_ptr<EventSocket> server(listener->Accept(nullptr));
  ASSERT_NE(server, nullptr);
  SocketRecorder server_events(server.get());
  std::string got;
  server_events.on_read = [&](EventSocket* s) {
    char buffer[16];
    int n = s->Recv(buffer, sizeof(buffer));
    if (n > 0) got.append(buffer, n);
  };
  client->Send("ui", 2);
  for (int i = 0; i < 200 && got.empty(); ++i) g_main_context_iteration(nullptr, TRUE);
  EXPECT_EQ(got, "ui");
}

}  // namespace
}  // namespace vexalo
