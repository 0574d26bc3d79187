// STUN parsing against libnice's STUN API on the same bytes, a connectivity check's round trip
// against a bare UDP echo on the same loop, and a port under a flood of strangers' junk.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/net/asyncudpsocket.h"
#include "base/runtime/eventqueue.h"
#include "p2p/base/connection.h"
#include "p2p/base/stunmessageview.h"
#include "p2p/base/udpport.h"
#include "p2p/base/wirebuffer.h"

#ifdef VEXALO_HAVE_NICE
extern "C" {
#include <stun/stunagent.h>
}
#endif

namespace vexalo {
namespace {

const std::string kFragment = "abcdefghijklmnop";
const std::string kRemote = "ABCDEFGHIJKLMNOP";

std::string Serialize(const StunPacket& packet) {
  WireBuffer writer;
  packet.Serialize(&writer);
  return std::string(writer.Data(), writer.Length());
}

// What a check carries: USERNAME; its answer adds MAPPED-ADDRESS.
std::string CheckBytes(uint16_t type, const std::string& id) {
  StunPacket packet;
  packet.SetType(type);
  packet.SetTransactionId(id);
  if (type == STUN_BINDING_RESPONSE) {
    auto mapped = StunPacket::CreateAddress(STUN_ATTR_MAPPED_ADDRESS);
    mapped->SetAddress(SocketAddress(0xC6120001, 40000));
    packet.Append(std::move(mapped));
  }
  auto username = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
  username->CopyBytes(type == STUN_BINDING_REQUEST ? kFragment + kRemote : kRemote + kFragment);
  packet.Append(std::move(username));
  return Serialize(packet);
}

// Ours as a port receives a check: the message checked in place (every acceptance rule), then
// the look-ups it makes (name, mapped address). Nothing is copied, as with libnice below.
void ParseOurs(benchmark::State& state, const std::string& bytes) {
  for (auto _ : state) {
    StunMessageView view;
    bool ok = view.Validate(bytes.data(), bytes.size()) == bytes.size();
    std::string_view username;
    ok = ok && view.Find(STUN_ATTR_USERNAME, &username) && username.size() == 32;
    if (view.type() == STUN_BINDING_RESPONSE) {
      SocketAddress mapped;
      ok = ok && view.FindIpv4Address(STUN_ATTR_MAPPED_ADDRESS, &mapped);
      benchmark::DoNotOptimize(mapped);
    }
    if (!ok) {
      state.SkipWithError("did not parse");
      break;
    }
    benchmark::DoNotOptimize(username);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_StunParseRequest_Ours(benchmark::State& state) {
  ParseOurs(state, CheckBytes(STUN_BINDING_REQUEST, "0123456789abcdef"));
}
BENCHMARK(BM_StunParseRequest_Ours);

void BM_StunParseResponse_Ours(benchmark::State& state) {
  ParseOurs(state, CheckBytes(STUN_BINDING_RESPONSE, "0123456789abcdef"));
}
BENCHMARK(BM_StunParseResponse_Ours);

// What a check the port keeps costs on top: the message built as objects.
void BM_StunBuildObjects_Ours(benchmark::State& state) {
  const std::string bytes = CheckBytes(STUN_BINDING_RESPONSE, "0123456789abcdef");
  for (auto _ : state) {
    WireBuffer reader(bytes.data(), bytes.size());
    StunPacket packet;
    if (!packet.Parse(&reader)) {
      state.SkipWithError("did not parse");
      break;
    }
    benchmark::DoNotOptimize(packet);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StunBuildObjects_Ours);

#ifdef VEXALO_HAVE_NICE
const uint16_t kKnownAttributes[] = {STUN_ATTRIBUTE_MAPPED_ADDRESS, STUN_ATTRIBUTE_USERNAME, 0};
// No credentials on classic checks, and attributes that need not be padded.
const auto kNiceFlags = static_cast<StunAgentUsageFlags>(STUN_AGENT_USAGE_IGNORE_CREDENTIALS |
                                                         STUN_AGENT_USAGE_NO_ALIGNED_ATTRIBUTES);

// libnice's agent in its classic (RFC 3489) compatibility: validate, then the same look-up.
void ParseNice(benchmark::State& state, StunAgent* agent, const std::string& bytes) {
  std::vector<uint8_t> buffer(bytes.begin(), bytes.end());
  for (auto _ : state) {
    StunMessage msg;
    StunValidationStatus status =
        stun_agent_validate(agent, &msg, buffer.data(), buffer.size(), nullptr, nullptr);
    uint16_t length = 0;
    const void* username = stun_message_find(&msg, STUN_ATTRIBUTE_USERNAME, &length);
    bool ok = status == STUN_VALIDATION_SUCCESS && username && length == 32;
    if (!ok) {
      state.SkipWithError(("libnice refused the message: status " + std::to_string(status)).c_str());
      break;
    }
    benchmark::DoNotOptimize(msg);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_StunParseRequest_Libnice(benchmark::State& state) {
  StunAgent agent;
  stun_agent_init(&agent, kKnownAttributes, STUN_COMPATIBILITY_RFC3489,
                  kNiceFlags);
  ParseNice(state, &agent, CheckBytes(STUN_BINDING_REQUEST, "0123456789abcdef"));
}
BENCHMARK(BM_StunParseRequest_Libnice);

// The agent forgets a transaction once a response matched it, so a response cannot be run
// through its validation again and again: this is libnice's message check without the agent
// (length and attribute walk), then the same look-ups. Transaction matching is not in ours
// either (the table does it apart).
void BM_StunParseResponse_Libnice(benchmark::State& state) {
  const std::string bytes = CheckBytes(STUN_BINDING_RESPONSE, "0123456789abcdef");
  std::vector<uint8_t> buffer(bytes.begin(), bytes.end());
  for (auto _ : state) {
    int valid = stun_message_validate_buffer_length(buffer.data(), buffer.size(), false);
    StunMessage msg;
    msg.buffer = buffer.data();
    msg.buffer_len = buffer.size();
    msg.agent = nullptr;
    msg.key = nullptr;
    msg.key_len = 0;
    uint16_t length = 0;
    const void* username = stun_message_find(&msg, STUN_ATTRIBUTE_USERNAME, &length);
    sockaddr_storage mapped;
    socklen_t mapped_length = sizeof(mapped);
    bool ok = valid == static_cast<int>(buffer.size()) && username && length == 32 &&
              stun_message_find_addr(&msg, STUN_ATTRIBUTE_MAPPED_ADDRESS, &mapped,
                                     &mapped_length) == STUN_MESSAGE_RETURN_SUCCESS;
    if (!ok) {
      state.SkipWithError("libnice refused the message");
      break;
    }
    benchmark::DoNotOptimize(msg);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StunParseResponse_Libnice);
#endif

// Dispatches what is due, then waits for socket events and serves them.
void Pump(EventQueue* queue) {
  QueuedMessage msg;
  while (queue->Get(&msg, 0)) queue->Dispatch(&msg);
  queue->hub()->Wait(100, true);
}

// One check at a time between two UDP ports: ping sent, answered, answer handled.
void BM_CheckRoundTrip(benchmark::State& state) {
  EventQueue queue;
  const Network lo{"lo", 0x7F000001};
  UdpPort a(&queue, nullptr, lo, SocketAddress(0x7F000001, 0));
  UdpPort b(&queue, nullptr, lo, SocketAddress(0x7F000001, 0));
  a.PrepareAddress();
  b.PrepareAddress();
  Connection* ab = a.CreateConnection(b.candidates()[0], ORIGIN_MESSAGE);
  b.CreateConnection(a.candidates()[0], ORIGIN_MESSAGE);
  for (auto _ : state) {
    const int answered = ab->rtt_samples();
    ab->Ping(queue.Now());
    while (ab->rtt_samples() == answered) Pump(&queue);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CheckRoundTrip)->UseRealTime();

// The same loop carrying a datagram of a check's size there and back, and nothing else.
void BM_UdpEchoRoundTrip(benchmark::State& state) {
  EventQueue queue;
  AsyncUdpSocket client(queue.hub()->CreateEventSocket(kDatagramSocket));
  AsyncUdpSocket echo(queue.hub()->CreateEventSocket(kDatagramSocket));
  client.Bind(SocketAddress(0x7F000001, 0));
  echo.Bind(SocketAddress(0x7F000001, 0));
  SlotHost host;
  echo.ReadPacket.Connect(&host, [&](const char* data, size_t size, const SocketAddress& from,
                                     PacketSocket*) { echo.SendTo(data, size, from); });
  int64_t round_trips = 0;
  client.ReadPacket.Connect(&host, [&](const char*, size_t, const SocketAddress&,
                                       PacketSocket*) { ++round_trips; });
  const std::string check = CheckBytes(STUN_BINDING_REQUEST, "0123456789abcdef");
  const SocketAddress to = echo.GetLocalAddress();
  for (auto _ : state) {
    const int64_t before = round_trips;
    client.SendTo(check.data(), check.size(), to);
    while (round_trips == before) Pump(&queue);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UdpEchoRoundTrip)->UseRealTime();

// Reaches the receive path without the kernel, so the figure is the port's own work.
class FloodedPort : public UdpPort {
 public:
  using UdpPort::UdpPort;
  void OnReadPacket(const char* data, size_t size, const SocketAddress& from,
                    PacketSocket* socket) override {
    ++received_;
    UdpPort::OnReadPacket(data, size, from, socket);
  }
  int64_t datagrams_received() const { return received_; }

 private:
  int64_t received_ = 0;
};

long MaxRssKb() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Junk, checks with wrong names and checks with right names from 10,000 senders.
void BM_PortUnderStrangerFlood(benchmark::State& state) {
  EventQueue queue;
  FloodedPort port(&queue, nullptr, Network{"lo", 0x7F000001}, SocketAddress(0x7F000001, 0));
  SlotHost host;
  int64_t unknown = 0;
  port.UnknownAddress.Connect(&host, [&](Port*, const SocketAddress&, const StunPacket&,
                                         const std::string&) { ++unknown; });
  const std::string junk(160, 'x');
  const std::string wrong = CheckBytes(STUN_BINDING_REQUEST, "0123456789abcdef");
  StunPacket right_packet;
  right_packet.SetType(STUN_BINDING_REQUEST);
  auto username = StunPacket::CreateBytes(STUN_ATTR_USERNAME);
  username->CopyBytes(port.username_fragment() + kRemote);
  right_packet.Append(std::move(username));
  const std::string right = Serialize(right_packet);
  const std::string* kinds[] = {&junk, &wrong, &right};
  std::vector<SocketAddress> senders;
  for (uint32_t i = 0; i < 10000; ++i) {
    senders.emplace_back(0x0A000000 + i, static_cast<uint16_t>(1024 + i));
  }
  const long rss_before = MaxRssKb();
  size_t n = 0;
  for (auto _ : state) {
    const std::string& bytes = *kinds[n % 3];
    port.OnReadPacket(bytes.data(), bytes.size(), senders[n % senders.size()], nullptr);
    ++n;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["peak_rss_growth_kb"] = static_cast<double>(MaxRssKb() - rss_before);
  state.counters["answered_or_logged_suppressed"] = static_cast<double>(port.unknown_suppressed());
  state.counters["connections"] = static_cast<double>(port.connections().size());
  benchmark::DoNotOptimize(unknown);
}
BENCHMARK(BM_PortUnderStrangerFlood)->Iterations(1000000);

// The same mix through the kernel: a sender thread paces 100,000 datagrams per second from
// 10,000 loopback addresses (127.1.x.y, chosen per datagram) at a port served by this thread.
// Figures: the serving thread's CPU per datagram received, and resident memory between the
// first second and the end (flat means no per-sender state piles up).
void BM_PortUnderKernelFlood(benchmark::State& state) {
  constexpr int kSeconds = 3;
  constexpr int kPerSecond = 100000;
  constexpr int kBatch = 100;
  for (auto _ : state) {
    EventQueue queue;
    FloodedPort port(&queue, nullptr, Network{"lo", 0x7F000001}, SocketAddress(0x7F000001, 0));
    port.PrepareAddress();
    const SocketAddress to = port.candidates().at(0).address;
    const std::string junk(160, 'x');
    const std::string wrong = CheckBytes(STUN_BINDING_REQUEST, "0123456789abcdef");
    const std::string* kinds[] = {&junk, &wrong};

    std::atomic<bool> sending{true};
    std::atomic<int64_t> sent{0};
    std::thread sender([&] {
      const int fd = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in target{};
      target.sin_family = AF_INET;
      target.sin_port = htons(to.port());
      target.sin_addr.s_addr = htonl(to.ip());
      std::vector<mmsghdr> messages(kBatch);
      std::vector<iovec> parts(kBatch);
      std::vector<std::array<char, CMSG_SPACE(sizeof(in_pktinfo))>> controls(kBatch);
      const auto start = std::chrono::steady_clock::now();
      int64_t n = 0;
      for (int64_t batch = 0; batch < int64_t{kSeconds} * kPerSecond / kBatch; ++batch) {
        for (int i = 0; i < kBatch; ++i, ++n) {
          const std::string& bytes = *kinds[n % 2];
          parts[i] = iovec{const_cast<char*>(bytes.data()), bytes.size()};
          msghdr& m = messages[i].msg_hdr;
          m = msghdr{};
          m.msg_name = &target;
          m.msg_namelen = sizeof(target);
          m.msg_iov = &parts[i];
          m.msg_iovlen = 1;
          m.msg_control = controls[i].data();
          m.msg_controllen = controls[i].size();
          cmsghdr* c = CMSG_FIRSTHDR(&m);
          c->cmsg_level = IPPROTO_IP;
          c->cmsg_type = IP_PKTINFO;
          c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
          in_pktinfo info{};
          const uint32_t sender_index = static_cast<uint32_t>(n % 10000);
          info.ipi_spec_dst.s_addr = htonl(0x7F010000 | (sender_index >> 8) << 8 |
                                           (sender_index & 0xFF));
          std::memcpy(CMSG_DATA(c), &info, sizeof(info));
        }
        const int done = sendmmsg(fd, messages.data(), kBatch, 0);
        if (done > 0) sent += done;
        std::this_thread::sleep_until(start + std::chrono::microseconds(
                                                  (batch + 1) * kBatch * 1000000 / kPerSecond));
      }
      close(fd);
      sending = false;
    });

    rusage before;
    getrusage(RUSAGE_THREAD, &before);
    const long rss_start = MaxRssKb();
    long rss_after_first_second = 0;
    const auto start = std::chrono::steady_clock::now();
    int64_t quiet_rounds = 0;
    while (sending || quiet_rounds < 3) {
      QueuedMessage msg;
      while (queue.Get(&msg, 0)) queue.Dispatch(&msg);
      const int64_t before_wait = port.datagrams_received();
      queue.hub()->Wait(50, true);
      quiet_rounds = port.datagrams_received() == before_wait ? quiet_rounds + 1 : 0;
      if (rss_after_first_second == 0 &&
          std::chrono::steady_clock::now() - start > std::chrono::seconds(1)) {
        rss_after_first_second = MaxRssKb();
      }
    }
    sender.join();
    rusage after;
    getrusage(RUSAGE_THREAD, &after);
    auto cpu_us = [](const rusage& u) {
      return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec +
             u.ru_stime.tv_usec;
    };
    const int64_t received = port.datagrams_received();
    state.SetIterationTime(static_cast<double>(cpu_us(after) - cpu_us(before)) / 1e6);
    state.counters["datagrams_sent"] = static_cast<double>(sent.load());
    state.counters["datagrams_received"] = static_cast<double>(received);
    state.counters["cpu_ns_per_datagram"] =
        received ? static_cast<double>(cpu_us(after) - cpu_us(before)) * 1000.0 / received : 0;
    state.counters["rss_growth_first_second_kb"] =
        static_cast<double>(rss_after_first_second - rss_start);
    state.counters["rss_growth_after_first_second_kb"] =
        static_cast<double>(MaxRssKb() - rss_after_first_second);
  }
}
BENCHMARK(BM_PortUnderKernelFlood)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexalo

BENCHMARK_MAIN();
