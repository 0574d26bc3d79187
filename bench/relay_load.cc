// A load driver for relays: pushes one stream of equal UDP packets from a client through a
// relay to a peer socket, keeping a fixed number in flight, and reports packets per second,
// loss and the relay process's CPU per million packets. The same stream goes through
// vexalo-relayd (a locked allocation: plain packets) and through a standard TURN server (a
// channel: 4-byte ChannelData headers), so the two relays are compared on equal terms.
//
// relay_load relayd SERVER_PORT RELAY_PID USERNAME MAGIC_COOKIE PACKETS SIZE
// (relayd-tcp and relayd-ssltcp: the client reaches vexalo-relayd over TCP or SSL-TCP)
// relay_load turn   SERVER_PORT RELAY_PID USERNAME PASSWORD     PACKETS SIZE
// Everything on 127.0.0.1.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "base/net/ssltcpadapter.h"
#include "p2p/base/stunpacket.h"
#include "p2p/base/turnmessage.h"
#include "p2p/base/wirebuffer.h"
#include "relaydmessage.h"

namespace vexalo {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr int kInFlight = 256;
// A packet not seen this long after the last arrival is counted as lost.
constexpr int kLossWaitMs = 200;
constexpr uint16_t kChannelBind = 0x0009;
constexpr uint16_t kChannelNumberAttr = 0x000C;
constexpr uint16_t kChannel = 0x4000;

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "relay_load: %s\n", why.c_str());
  std::exit(1);
}

int BoundSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(kLoopback);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) Fail("no socket");
  const int buffer = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof(buffer));
  return fd;
}

uint16_t LocalPort(int fd) {
  sockaddr_in local{};
  socklen_t size = sizeof(local);
  getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
  return ntohs(local.sin_port);
}

// The client's way to the relay: UDP datagrams to a port, or frames (16-bit big-endian
// length) on a connected TCP stream.
struct Link {
  int fd = -1;
  uint16_t port = 0;
  bool stream = false;
};

bool ReadAll(int fd, char* out, size_t size, int ms) {
  for (size_t got = 0; got < size;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    const ssize_t n = recv(fd, out + got, size - got, 0);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

void SendTo(int fd, const std::string& bytes, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(kLoopback);
  to.sin_port = htons(port);
  sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
}

void Send(const Link& link, const std::string& bytes) {
  if (!link.stream) return SendTo(link.fd, bytes, link.port);
  std::string frame;
  frame.reserve(bytes.size() + 2);
  frame += static_cast<char>(bytes.size() >> 8);
  frame += static_cast<char>(bytes.size() & 0xFF);
  frame += bytes;
  for (size_t sent = 0; sent < frame.size();) {
    const ssize_t n = send(link.fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) Fail("the relay closed the connection");
    sent += static_cast<size_t>(n);
  }
}

// One datagram within `ms`, or empty.
std::string Receive(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return {};
  char buffer[2048];
  const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

std::string ReceiveFrom(const Link& link, int ms) {
  if (!link.stream) return Receive(link.fd, ms);
  unsigned char header[2];
  if (!ReadAll(link.fd, reinterpret_cast<char*>(header), 2, ms)) return {};
  std::string body(static_cast<size_t>(header[0] << 8 | header[1]), '\0');
  if (!ReadAll(link.fd, body.data(), body.size(), ms)) return {};
  return body;
}

// A TCP connection to the relay; with `ssltcp`, behind the fixed hellos that make it look
// like SSL.
Link Connected(uint16_t port, bool ssltcp) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(kLoopback);
  to.sin_port = htons(port);
  if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) Fail("cannot connect");
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  if (ssltcp) {
    send(fd, SslTcpAdapter::kClientHello, SslTcpAdapter::kClientHelloSize, MSG_NOSIGNAL);
    char hello[SslTcpAdapter::kServerHelloSize];
    if (!ReadAll(fd, hello, sizeof(hello), 2000)) Fail("no server hello");
  }
  return Link{fd, port, true};
}

double CpuSeconds(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  double ticks = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string TransactionId() {
  std::string id(12, '\0');
  if (getrandom(id.data(), id.size(), 0) != 12) Fail("no randomness");
  return id;
}

// Allocates at vexalo-relayd and locks the allocation to the peer: afterwards plain packets
// from the client go to the peer.
void SetUpRelayd(const Link& client, const std::string& username, const std::string& cookie,
                 uint16_t peer_port, int peer) {
  Send(client, RelaydMessage(STUN_ALLOCATE_REQUEST, username, cookie, nullptr, false));
  const std::string answer = ReceiveFrom(client, 2000);
  WireBuffer reader(answer.data(), answer.size());
  StunPacket packet;
  if (answer.empty() || !packet.Parse(&reader) || packet.type() != STUN_ALLOCATE_RESPONSE) {
    Fail("vexalo-relayd refused the allocation");
  }
  const SocketAddress to(kLoopback, peer_port);
  Send(client, RelaydMessage(STUN_SEND_REQUEST, username, cookie, &to, true));
  if (Receive(peer, 2000) != "lock") Fail("the lock packet did not reach the peer");
  ReceiveFrom(client, 2000);  // the Send Response
}

// One authenticated TURN request; its answer, or failure.
TurnMessage TurnRequest(int client, uint16_t server, TurnMessage request, const std::string& key) {
  SendTo(client, request.Serialize(key), server);
  const std::string answer = Receive(client, 2000);
  TurnMessage message;
  if (answer.empty() || !message.Parse(answer.data(), answer.size())) Fail("no answer from the TURN server");
  return message;
}

// Allocates at a TURN server with long-term credentials and binds a channel to the peer.
void SetUpTurn(int client, uint16_t server, const std::string& username,
               const std::string& password, uint16_t peer_port) {
  const std::string transport("\x11\0\0\0", 4);  // UDP
  TurnMessage first(TurnMessage::kAllocate, TransactionId());
  first.Add(TurnMessage::kRequestedTransport, transport);
  const TurnMessage challenge = TurnRequest(client, server, first, "");
  const std::string* realm = challenge.Find(TurnMessage::kRealm);
  const std::string* nonce = challenge.Find(TurnMessage::kNonce);
  if (challenge.ErrorCode() != 401 || !realm || !nonce) Fail("no credential challenge");
  const std::string key = TurnMessage::LongTermKey(username, *realm, password);
  auto authenticated = [&](uint16_t method) {
    TurnMessage m(method, TransactionId());
    m.Add(TurnMessage::kUsername, username);
    m.Add(TurnMessage::kRealm, *realm);
    m.Add(TurnMessage::kNonce, *nonce);
    return m;
  };
  TurnMessage allocate = authenticated(TurnMessage::kAllocate);
  allocate.Add(TurnMessage::kRequestedTransport, transport);
  if (TurnRequest(client, server, allocate, key).ErrorCode() != 0) Fail("TURN allocation refused");
  TurnMessage bind = authenticated(kChannelBind);
  bind.Add(kChannelNumberAttr, std::string("\x40\x00\0\0", 4));
  bind.AddXorAddress(TurnMessage::kXorPeerAddress, SocketAddress(kLoopback, peer_port));
  if (TurnRequest(client, server, bind, key).ErrorCode() != 0) Fail("TURN channel bind refused");
}

struct Result {
  long sent = 0;
  long received = 0;
  double seconds = 0;
  double relay_cpu = 0;
};

Result Push(const Link& client, int peer, const std::string& packet, long count, int relay_pid) {
  Result result;
  long written_off = 0;  // counted as lost after a pause
  char buffer[2048];
  const double cpu_before = CpuSeconds(relay_pid);
  const auto start = std::chrono::steady_clock::now();
  while (true) {
    while (result.sent < count && result.sent - result.received - written_off < kInFlight) {
      Send(client, packet);
      ++result.sent;
    }
    pollfd p{peer, POLLIN, 0};
    if (poll(&p, 1, kLossWaitMs) <= 0) {
      if (result.sent == count) break;
      written_off = result.sent - result.received;
      continue;
    }
    while (recv(peer, buffer, sizeof(buffer), MSG_DONTWAIT) > 0) ++result.received;
    if (result.received == count) break;
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (result.sent == count && result.received < count) result.seconds -= kLossWaitMs / 1000.0;
  result.relay_cpu = CpuSeconds(relay_pid) - cpu_before;
  return result;
}

}  // namespace
}  // namespace vexalo

int main(int argc, char** argv) {
  using namespace vexalo;
  if (argc != 8) {
    std::fprintf(stderr,
                 "usage: relay_load relayd|relayd-tcp|relayd-ssltcp PORT RELAY_PID USERNAME MAGIC_COOKIE PACKETS SIZE\n"
                 "       relay_load turn PORT RELAY_PID USERNAME PASSWORD PACKETS SIZE\n");
    return 2;
  }
  const std::string mode = argv[1];
  const auto server = static_cast<uint16_t>(std::atoi(argv[2]));
  const int relay_pid = std::atoi(argv[3]);
  const long count = std::atol(argv[6]);
  const auto size = static_cast<size_t>(std::atol(argv[7]));
  if (server == 0 || relay_pid <= 0 || count <= 0 || size < 8 || size > 1200) return 2;
  const int peer = BoundSocket();
  std::string packet;
  Link client{BoundSocket(), server, false};
  if (mode == "relayd" || mode == "relayd-tcp" || mode == "relayd-ssltcp") {
    if (mode != "relayd") client = Connected(server, mode == "relayd-ssltcp");
    SetUpRelayd(client, argv[4], argv[5], LocalPort(peer), peer);
    packet.assign(size, 'p');
  } else if (mode == "turn") {
    SetUpTurn(client.fd, server, argv[4], argv[5], LocalPort(peer));
    packet = std::string("\x40\x00", 2) + static_cast<char>(size >> 8) + static_cast<char>(size & 0xFF);
    packet.append(size, 'p');
  } else {
    return 2;
  }
  const Result r = Push(client, peer, packet, count, relay_pid);
  std::printf("%-13s %ld packets of %zu bytes: %.0f packets/s, loss %.2f%%, relay CPU %.2f s per million packets\n",
              mode.c_str(), r.sent, size, static_cast<double>(r.received) / r.seconds,
              100.0 * static_cast<double>(r.sent - r.received) / static_cast<double>(r.sent),
              r.received ? r.relay_cpu / static_cast<double>(r.received) * 1e6 : 0.0);
  return 0;
}
