// A link between two network interfaces that holds every frame for a while: the delay (and
// jitter) this kernel cannot add by itself. It runs in a namespace of its own between two veth
// pairs, reads each frame from one side with a packet socket and writes it to the other once
// its time has come, so kernel TCP and our transports cross exactly the same link.
//
// Usage: linkemulator IFACE_A IFACE_B DELAY_MS [JITTER_MS]
// Runs until SIGTERM or SIGINT. Frames beyond a fixed backlog are dropped, like a full queue.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxFrame = 65536;
constexpr size_t kMaxBacklog = 20000;

volatile std::sig_atomic_t stopping = 0;

void OnSignal(int) { stopping = 1; }

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Side {
  std::string name;
  int index = 0;
  int fd = -1;
};

struct HeldFrame {
  int64_t due_us;
  uint64_t sequence;  // keeps frames of equal due time in arrival order
  int to;             // index into the sides
  std::vector<char> bytes;
  bool operator>(const HeldFrame& other) const {
    return due_us != other.due_us ? due_us > other.due_us : sequence > other.sequence;
  }
};

bool OpenSide(Side* side) {
  side->index = static_cast<int>(if_nametoindex(side->name.c_str()));
  if (side->index == 0) {
    std::fprintf(stderr, "linkemulator: no interface %s\n", side->name.c_str());
    return false;
  }
  side->fd = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
  if (side->fd < 0) {
    std::perror("linkemulator: packet socket");
    return false;
  }
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_protocol = htons(ETH_P_ALL);
  address.sll_ifindex = side->index;
  if (bind(side->fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    std::perror("linkemulator: bind");
    return false;
  }
  // Tells which frames still wait for their checksum (see CompleteChecksum).
  const int on = 1;
  if (setsockopt(side->fd, SOL_PACKET, PACKET_AUXDATA, &on, sizeof(on)) != 0) {
    std::perror("linkemulator: auxiliary data");
    return false;
  }
  // Frames are addressed to the far end's hardware address, not to this interface.
  packet_mreq promiscuous{};
  promiscuous.mr_ifindex = side->index;
  promiscuous.mr_type = PACKET_MR_PROMISC;
  if (setsockopt(side->fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promiscuous,
                 sizeof(promiscuous)) != 0) {
    std::perror("linkemulator: promiscuous mode");
    return false;
  }
  return true;
}

uint32_t SumWords(const uint8_t* data, size_t size, uint32_t sum) {
  for (size_t i = 0; i + 1 < size; i += 2) sum += (uint32_t{data[i]} << 8) | data[i + 1];
  if (size % 2) sum += uint32_t{data[size - 1]} << 8;
  return sum;
}

// A frame the sender left to checksum offload carries only the pseudo-header sum in its
// UDP or TCP checksum; once it leaves for another interface nobody completes it, so do it here.
void CompleteChecksum(std::vector<char>* frame) {
  auto* bytes = reinterpret_cast<uint8_t*>(frame->data());
  const size_t size = frame->size();
  if (size < 34 || bytes[12] != 0x08 || bytes[13] != 0x00) return;  // IPv4 only
  const size_t ip = 14;
  const size_t header = size_t{bytes[ip] & 0x0Fu} * 4;
  const size_t total = (size_t{bytes[ip + 2]} << 8) | bytes[ip + 3];
  const uint8_t protocol = bytes[ip + 9];
  if (header < 20 || total < header || ip + total > size) return;
  size_t field;
  if (protocol == IPPROTO_UDP) {
    field = 6;
  } else if (protocol == IPPROTO_TCP) {
    field = 16;
  } else {
    return;
  }
  const size_t l4 = ip + header;
  const size_t l4_size = total - header;
  if (l4_size < field + 2) return;
  bytes[l4 + field] = 0;
  bytes[l4 + field + 1] = 0;
  uint32_t sum = SumWords(bytes + ip + 12, 8, 0);  // source and destination addresses
  sum += protocol + static_cast<uint32_t>(l4_size);
  sum = SumWords(bytes + l4, l4_size, sum);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  uint16_t checksum = static_cast<uint16_t>(~sum);
  if (checksum == 0 && protocol == IPPROTO_UDP) checksum = 0xFFFF;
  bytes[l4 + field] = static_cast<uint8_t>(checksum >> 8);
  bytes[l4 + field + 1] = static_cast<uint8_t>(checksum);
}

int64_t JitterUs(int64_t jitter_us) {
  if (jitter_us <= 0) return 0;
  uint32_t random = 0;
  if (getrandom(&random, sizeof(random), 0) != sizeof(random)) return 0;
  return static_cast<int64_t>(random % static_cast<uint32_t>(2 * jitter_us + 1)) - jitter_us;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: linkemulator IFACE_A IFACE_B DELAY_MS [JITTER_MS]\n");
    return 2;
  }
  const int64_t delay_us = std::atoll(argv[3]) * 1000;
  const int64_t jitter_us = argc == 5 ? std::atoll(argv[4]) * 1000 : 0;
  if (delay_us < 0 || jitter_us < 0 || jitter_us > delay_us) {
    std::fprintf(stderr, "linkemulator: need 0 <= JITTER_MS <= DELAY_MS\n");
    return 2;
  }
  Side sides[2];
  sides[0].name = argv[1];
  sides[1].name = argv[2];
  if (!OpenSide(&sides[0]) || !OpenSide(&sides[1])) return 1;
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);

  std::priority_queue<HeldFrame, std::vector<HeldFrame>, std::greater<HeldFrame>> held;
  uint64_t sequence = 0;
  uint64_t dropped = 0;
  uint64_t forwarded = 0;
  std::vector<char> buffer(kMaxFrame);
  pollfd polled[2] = {{sides[0].fd, POLLIN, 0}, {sides[1].fd, POLLIN, 0}};
  std::printf("linkemulator: %s <-> %s, %lld ms +- %lld ms\n", argv[1], argv[2],
              static_cast<long long>(delay_us / 1000), static_cast<long long>(jitter_us / 1000));
  std::fflush(stdout);

  while (!stopping) {
    int timeout_ms = -1;
    if (!held.empty()) {
      const int64_t wait_us = held.top().due_us - NowUs();
      timeout_ms = wait_us <= 0 ? 0 : static_cast<int>((wait_us + 999) / 1000);
    }
    const int ready = poll(polled, 2, timeout_ms);
    if (ready < 0 && errno != EINTR) {
      std::perror("linkemulator: poll");
      return 1;
    }
    for (int from = 0; from < 2 && ready > 0; ++from) {
      if (!(polled[from].revents & POLLIN)) continue;
      while (true) {
        sockaddr_ll source{};
        char control[CMSG_SPACE(sizeof(tpacket_auxdata))];
        iovec io{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_name = &source;
        message.msg_namelen = sizeof(source);
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        const ssize_t size = recvmsg(sides[from].fd, &message, 0);
        if (size < 0) break;
        // Our own writes come back to a packet socket as outgoing frames.
        if (source.sll_pkttype == PACKET_OUTGOING) continue;
        if (held.size() >= kMaxBacklog) {
          ++dropped;
          continue;
        }
        bool checksum_pending = false;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
          if (c->cmsg_level != SOL_PACKET || c->cmsg_type != PACKET_AUXDATA) continue;
          tpacket_auxdata aux;
          std::memcpy(&aux, CMSG_DATA(c), sizeof(aux));
          checksum_pending = (aux.tp_status & TP_STATUS_CSUMNOTREADY) != 0;
        }
        std::vector<char> frame(buffer.begin(), buffer.begin() + size);
        if (checksum_pending) CompleteChecksum(&frame);
        held.push(HeldFrame{NowUs() + delay_us + JitterUs(jitter_us), sequence++, 1 - from,
                            std::move(frame)});
      }
    }
    const int64_t now = NowUs();
    while (!held.empty() && held.top().due_us <= now) {
      const HeldFrame& frame = held.top();
      if (send(sides[frame.to].fd, frame.bytes.data(), frame.bytes.size(), 0) < 0) {
        ++dropped;
      } else {
        ++forwarded;
      }
      held.pop();
    }
  }
  std::printf("linkemulator: stopped, %llu frames forwarded, %llu dropped\n",
              static_cast<unsigned long long>(forwarded), static_cast<unsigned long long>(dropped));
  return 0;
}
