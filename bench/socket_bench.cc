// Packet sockets against hand-written loops on the same machine: UDP echo against a bare epoll
// loop, framed TCP against a blocking send/recv pair.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "base/net/asynctcpsocket.h"
#include "base/net/asyncudpsocket.h"
#include "base/runtime/loopthread.h"
#include "base/net/physicalsocketserver.h"
#include "base/runtime/threadregistry.h"

namespace vexalo {
namespace {

constexpr size_t kDatagramSize = 200;
constexpr int kInFlight = 16;
constexpr size_t kFrameSize = 1200;

SocketAddress Loopback() { return SocketAddress(0x7F000001u, 0); }

PhysicalSocketServer* Hub() {
  return static_cast<PhysicalSocketServer*>(ThreadRegistry::Current()->hub());
}

// One thread, two AsyncUdpSockets: the echo side returns every datagram, the client counts
// round trips and keeps a fixed number in flight.
void BM_UdpEchoAsyncUdpSocket(benchmark::State& state) {
  PhysicalSocketServer* hub = Hub();
  AsyncUdpSocket client(hub->CreateEventSocket(kDatagramSocket));
  AsyncUdpSocket echo(hub->CreateEventSocket(kDatagramSocket));
  client.Bind(Loopback());
  echo.Bind(Loopback());
  const SocketAddress echo_address = echo.GetLocalAddress();
  SlotHost host;
  echo.ReadPacket.Connect(&host, [&](const char* data, size_t length, const SocketAddress& from,
                                     PacketSocket*) { echo.SendTo(data, length, from); });
  int64_t round_trips = 0;
  char payload[kDatagramSize] = {};
  client.ReadPacket.Connect(&host, [&](const char*, size_t, const SocketAddress&, PacketSocket*) {
    ++round_trips;
    client.SendTo(payload, sizeof(payload), echo_address);
  });
  for (int i = 0; i < kInFlight; ++i) client.SendTo(payload, sizeof(payload), echo_address);
  for (auto _ : state) {
    int64_t target = round_trips + 1000;
    while (round_trips < target) hub->Wait(100, true);
  }
  state.SetItemsProcessed(state.iterations() * 1000);
  state.SetLabel("round trips");
}
BENCHMARK(BM_UdpEchoAsyncUdpSocket)->UseRealTime();

// The same echo with bare non-blocking sockets and one epoll set: the limit.
void BM_UdpEchoBareEpoll(benchmark::State& state) {
  int client = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  int echo = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(0x7F000001u);
  bind(client, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  bind(echo, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  sockaddr_in echo_addr{};
  socklen_t len = sizeof(echo_addr);
  getsockname(echo, reinterpret_cast<sockaddr*>(&echo_addr), &len);
  int ep = epoll_create1(0);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = client;
  epoll_ctl(ep, EPOLL_CTL_ADD, client, &ev);
  ev.data.fd = echo;
  epoll_ctl(ep, EPOLL_CTL_ADD, echo, &ev);
  char buffer[65536];
  char payload[kDatagramSize] = {};
  for (int i = 0; i < kInFlight; ++i) {
    sendto(client, payload, sizeof(payload), 0, reinterpret_cast<sockaddr*>(&echo_addr),
           sizeof(echo_addr));
  }
  int64_t round_trips = 0;
  for (auto _ : state) {
    int64_t target = round_trips + 1000;
    while (round_trips < target) {
      epoll_event events[64];
      int n = epoll_wait(ep, events, 64, 100);
      for (int i = 0; i < n; ++i) {
        int fd = events[i].data.fd;
        sockaddr_in from{};
        socklen_t from_len = sizeof(from);
        ssize_t got = recvfrom(fd, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from),
                               &from_len);
        if (got < 0) continue;
        if (fd == echo) {
          sendto(echo, buffer, got, 0, reinterpret_cast<sockaddr*>(&from), from_len);
        } else {
          ++round_trips;
          sendto(client, payload, sizeof(payload), 0, reinterpret_cast<sockaddr*>(&echo_addr),
                 sizeof(echo_addr));
        }
      }
    }
  }
  close(ep);
  close(client);
  close(echo);
  state.SetItemsProcessed(state.iterations() * 1000);
  state.SetLabel("round trips");
}
BENCHMARK(BM_UdpEchoBareEpoll)->UseRealTime();

// Receives framed packets on its own LoopThread and counts their bytes.
class FramedReceiver : public MessageTarget, public SlotHost {
 public:
  void HandleMessage(QueuedMessage* msg) override {
    auto* listener = static_cast<MessageData<EventSocket*>*>(msg->payload)->value();
    delete msg->payload;
    EventSocket* accepted = listener->Accept(nullptr);
    socket_ = std::make_unique<AsyncTcpSocket>(accepted);
    socket_->ReadPacket.Connect(this, &FramedReceiver::OnPacket);
  }
  void OnPacket(const char*, size_t length, const SocketAddress&, PacketSocket*) {
    bytes.fetch_add(length, std::memory_order_relaxed);
  }
  std::atomic<int64_t> bytes{0};
  std::unique_ptr<AsyncTcpSocket> socket_;
};

void BM_FramedTcpAsyncTcpSocket(benchmark::State& state) {
  LoopThread receiver_thread;
  receiver_thread.Start();
  PhysicalSocketServer* hub = Hub();
  std::unique_ptr<EventSocket> listener(hub->CreateSocket(kStreamSocket));
  listener->Bind(Loopback());
  listener->Listen(1);
  AsyncTcpSocket sender(hub->CreateEventSocket(kStreamSocket));
  sender.Connect(listener->GetLocalAddress());
  FramedReceiver receiver;
  // Accept on the receiver's thread so its socket delivers events there.
  receiver_thread.Invoke(&receiver, 0, new MessageData<EventSocket*>(listener.get()));
  while (sender.socket()->GetState() != CONN_CONNECTED) hub->Wait(10, true);
  char payload[kFrameSize] = {};
  int64_t sent_bytes = 0;
  for (auto _ : state) {
    int64_t target = sent_bytes + 1000 * static_cast<int64_t>(kFrameSize);
    while (sent_bytes < target) {
      if (sender.HasPendingOutput()) {
        hub->Wait(10, true);  // let the write event flush the rest
        continue;
      }
      // A frame that went out whole or in part counts; the rest follows on the write event.
      if (sender.Send(payload, sizeof(payload)) == static_cast<int>(sizeof(payload))) {
        sent_bytes += kFrameSize;
      } else {
        hub->Wait(10, true);
      }
    }
  }
  while (receiver.bytes.load() < sent_bytes) hub->Wait(1, true);
  state.SetBytesProcessed(sent_bytes);
  receiver_thread.Stop();
}

void BM_FramedTcpBlockingPair(benchmark::State& state) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(0x7F000001u);
  bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  listen(listener, 1);
  socklen_t len = sizeof(addr);
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  int sender = socket(AF_INET, SOCK_STREAM, 0);
  connect(sender, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  int receiver = accept(listener, nullptr, nullptr);
  std::atomic<int64_t> received{0};
  std::atomic<bool> done{false};
  std::thread reader([&] {
    std::vector<char> frame(kFrameSize + 2);
    for (;;) {
      size_t got = 0;
      while (got < frame.size()) {
        ssize_t n = recv(receiver, frame.data() + got, frame.size() - got, 0);
        if (n <= 0) return;
        got += static_cast<size_t>(n);
      }
      received.fetch_add(kFrameSize, std::memory_order_relaxed);
    }
  });
  std::vector<char> frame(kFrameSize + 2, 0);
  frame[0] = static_cast<char>(kFrameSize >> 8);
  frame[1] = static_cast<char>(kFrameSize & 0xFF);
  int64_t sent_bytes = 0;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) {
      size_t put = 0;
      while (put < frame.size()) {
        ssize_t n = send(sender, frame.data() + put, frame.size() - put, 0);
        if (n <= 0) break;
        put += static_cast<size_t>(n);
      }
      sent_bytes += kFrameSize;
    }
  }
  while (received.load() < sent_bytes) std::this_thread::yield();
  done = true;
  close(sender);
  reader.join();
  close(receiver);
  close(listener);
  state.SetBytesProcessed(sent_bytes);
}

BENCHMARK(BM_FramedTcpAsyncTcpSocket)->UseRealTime();
BENCHMARK(BM_FramedTcpBlockingPair)->UseRealTime();

}  // namespace
}  // namespace vexalo

BENCHMARK_MAIN();
