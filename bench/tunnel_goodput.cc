// Goodput of one bulk transfer between two network namespaces: PseudoTcp over UDP, or kernel
// TCP with its window clamped to the PseudoTcp buffer (TCP_WINDOW_CLAMP 61,440). One process
// sends, one receives; tunnel_goodput.sh builds the link (delay, loss) and runs both.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "p2p/base/pseudotcp.h"

namespace {

using namespace vexalo;

Tick NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

sockaddr_in Address(const char* ip, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, ip, &address.sin_addr);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

class UdpEnd : public PseudoTcpOwner {
 public:
  UdpEnd(sockaddr_in local, sockaddr_in peer_address) : peer(peer_address), tcp(this, 0, NowMs) {
    fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    int dont_fragment = IP_PMTUDISC_DO;
    setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &dont_fragment, sizeof dont_fragment);
  }
  void OnTcpOpen(PseudoTcp*) override { open = true; }
  // Reading and refilling as each packet is taken in, not once per poll batch: a batch of
  // a whole window left unread would be advertised as a shut window in the ACKs it draws.
  void OnTcpReadable(PseudoTcp*) override { Drain(); }
  void OnTcpWriteable(PseudoTcp*) override { Fill(); }
  void Drain() {
    int n;
    while ((n = tcp.Recv(chunk.data(), chunk.size())) > 0) received += static_cast<size_t>(n);
  }
  void Fill() {
    while (sent < to_send) {
      int n = tcp.Send(chunk.data(), std::min(chunk.size(), to_send - sent));
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  }
  void OnTcpClosed(PseudoTcp*, int error) override { closed_error = error ? error : -1; }
  WriteResult TcpWritePacket(PseudoTcp*, const char* bytes, size_t length) override {
    ssize_t n = sendto(fd, bytes, length, 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    if (n >= 0) return WR_SUCCESS;
    if (errno == EMSGSIZE) return WR_TOO_LARGE;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) return WR_WOULD_BLOCK;
    return WR_FAILED;
  }
  // One loop step: waits for a packet or the next timer.
  void Step() {
    int64_t wait = 4000;
    int64_t timeout = 0;
    if (tcp.GetNextClock(NowMs(), &timeout)) wait = std::min(wait, std::max<int64_t>(timeout, 0));
    pollfd fds[1] = {{fd, POLLIN, 0}};
    poll(fds, 1, static_cast<int>(wait));
    char packet[65536];
    ssize_t n;
    while ((n = recv(fd, packet, sizeof packet, 0)) > 0) tcp.NotifyPacket(packet, static_cast<size_t>(n));
    if (tcp.GetNextClock(NowMs(), &timeout) && timeout <= 0) tcp.NotifyClock(NowMs());
  }
  int fd;
  sockaddr_in peer;
  PseudoTcp tcp;
  bool open = false;
  int closed_error = 0;
  std::vector<char> chunk = std::vector<char>(65536, 'x');
  size_t received = 0;
  size_t sent = 0;
  size_t to_send = 0;
};

// The receiver times from the connection's opening to the last byte.
bool PseudoTcpReceive(sockaddr_in local, sockaddr_in peer, size_t total, int limit_s, double* seconds) {
  UdpEnd end(local, peer);
  end.tcp.NotifyMTU(1500);
  Tick start = 0;
  const Tick deadline = NowMs() + limit_s * 1000;
  while (end.received < total && NowMs() < deadline && !end.closed_error) {
    end.Step();
    if (end.open && start == 0) start = NowMs();
    end.Drain();
  }
  *seconds = static_cast<double>(NowMs() - start) / 1000.0;
  // Lets the last ACKs out.
  for (Tick end_at = NowMs() + 1000; NowMs() < end_at;) end.Step();
  return end.received == total;
}

bool PseudoTcpSend(sockaddr_in local, sockaddr_in peer, size_t total, int limit_s) {
  UdpEnd end(local, peer);
  end.tcp.NotifyMTU(1500);
  end.tcp.Connect();
  end.to_send = total;
  const Tick deadline = NowMs() + limit_s * 1000;
  while (NowMs() < deadline && !end.closed_error) {
    if (end.open) {
      end.Fill();
      if (end.sent == total && end.tcp.buffered_send() == 0) return true;
    }
    end.Step();
  }
  return false;
}

int ClampedTcpSocket() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  int clamp = static_cast<int>(PseudoTcp::kBufferSize);
  // Clamped before the handshake, so the advertised window follows.
  setsockopt(fd, IPPROTO_TCP, TCP_WINDOW_CLAMP, &clamp, sizeof clamp);
  int reuse = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  return fd;
}

bool TcpReceive(sockaddr_in local, size_t total, int limit_s, double* seconds) {
  int listener = ClampedTcpSocket();
  bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local);
  listen(listener, 1);
  int fd = accept(listener, nullptr, nullptr);
  timeval timeout{limit_s, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  std::vector<char> chunk(65536);
  size_t received = 0;
  const Tick start = NowMs();
  while (received < total) {
    ssize_t n = recv(fd, chunk.data(), chunk.size(), 0);
    if (n <= 0) break;
    received += static_cast<size_t>(n);
  }
  *seconds = static_cast<double>(NowMs() - start) / 1000.0;
  close(fd);
  close(listener);
  return received == total;
}

bool TcpSend(sockaddr_in peer, size_t total) {
  int fd = ClampedTcpSocket();
  for (int i = 0; i < 100 && connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0; ++i) {
    usleep(50000);
  }
  std::vector<char> chunk(65536, 'x');
  size_t sent = 0;
  while (sent < total) {
    ssize_t n = send(fd, chunk.data(), std::min(chunk.size(), total - sent), MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  close(fd);
  return sent == total;
}

}  // namespace

// Usage: tunnel_goodput pseudotcp|tcp recv|send LOCAL_IP PEER_IP PORT MEGABYTES [LIMIT_SECONDS]
// The receiver prints: mode, bytes, seconds, KB/s, CPU ms per MB (its own end).
int main(int argc, char** argv) {
  if (argc < 7) {
    fprintf(stderr, "usage: %s pseudotcp|tcp recv|send LOCAL_IP PEER_IP PORT MEGABYTES [LIMIT_SECONDS]\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const bool receive = std::string(argv[2]) == "recv";
  const int port = atoi(argv[5]);
  const sockaddr_in local = Address(argv[3], port);
  const sockaddr_in peer = Address(argv[4], port);
  const size_t total = static_cast<size_t>(atof(argv[6]) * 1024 * 1024);
  const int limit = argc > 7 ? atoi(argv[7]) : 120;
  const double cpu_before = CpuSeconds();
  if (!receive) {
    bool sent = mode == "tcp" ? TcpSend(peer, total) : PseudoTcpSend(local, peer, total, limit);
    fprintf(stderr, "%s sender: %.1f CPU ms per MB%s\n", mode.c_str(),
            (CpuSeconds() - cpu_before) * 1000 / (static_cast<double>(total) / (1024 * 1024)), sent ? "" : ", unfinished");
    return sent ? 0 : 1;
  }
  double seconds = 0;
  bool ok = mode == "tcp" ? TcpReceive(local, total, limit, &seconds) : PseudoTcpReceive(local, peer, total, limit, &seconds);
  const double megabytes = static_cast<double>(total) / (1024 * 1024);
  printf("%s\t%zu\t%.2f\t%.0f\t%.1f%s\n", mode.c_str(), total, seconds, static_cast<double>(total) / 1024 / seconds,
         (CpuSeconds() - cpu_before) * 1000 / megabytes, ok ? "" : "\tunfinished");
  return ok ? 0 : 1;
}
