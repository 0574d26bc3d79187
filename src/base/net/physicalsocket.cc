#include "base/net/physicalsocket.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/runtime/logging.h"
#include "base/net/physicalsocketserver.h"
#include "base/net/socketdispatcher.h"
#include "base/net/socketerrors.h"

namespace vexalo {

PhysicalSocket::PhysicalSocket(PhysicalSocketServer* hub) : hub_(hub) {}

PhysicalSocket::~PhysicalSocket() { PhysicalSocket::Close(); }

void PhysicalSocket::RecordErrno() { error_ = SocketErrorFromErrno(errno); }

bool PhysicalSocket::Create(int type) {
  Close();
  fd_ = socket(family_, type | SOCK_CLOEXEC, 0);
  type_ = type;
  RecordErrno();
  if (fd_ >= 0) error_ = 0;
  return fd_ >= 0;
}

namespace {

using NameFunction = int (*)(int, sockaddr*, socklen_t*);

SocketAddress AddressOf(int fd, NameFunction get_name) {
  sockaddr_storage addr{};
  socklen_t len = sizeof(addr);
  SocketAddress result;
  if (fd >= 0 && get_name(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    result.FromSockAddr(reinterpret_cast<sockaddr*>(&addr), len);
  }
  return result;
}

}  // namespace

bool PhysicalSocket::MatchFamily(const SocketAddress& address) {
  if (address.family() == family_ && fd_ >= 0) return true;
  family_ = address.family();
  // Virtual: an event socket registers the new descriptor with its hub.
  return Create(type_ ? type_ : kStreamSocket);
}

SocketAddress PhysicalSocket::GetLocalAddress() const { return AddressOf(fd_, getsockname); }

SocketAddress PhysicalSocket::GetRemoteAddress() const { return AddressOf(fd_, getpeername); }

int PhysicalSocket::Bind(const SocketAddress& address) {
  if (!MatchFamily(address)) return -1;
  sockaddr_storage addr;
  socklen_t len = address.ToSockAddr(&addr);
  int rc = bind(fd_, reinterpret_cast<sockaddr*>(&addr), len);
  RecordErrno();
  if (rc == 0) error_ = 0;
  return rc == 0 ? 0 : -1;
}

int PhysicalSocket::Connect(const SocketAddress& address) {
  if (fd_ < 0 && !Create(kStreamSocket)) return -1;
  SocketAddress target = address;
  if (target.IsUnresolved()) {
    LOG(kInfo) << "Resolving addr in PhysicalSocket::Connect";
    target.Resolve(false, true);
  }
  return DoConnect(target);
}

int PhysicalSocket::DoConnect(const SocketAddress& address) {
  if (!MatchFamily(address)) return -1;
  sockaddr_storage addr;
  socklen_t len = address.ToSockAddr(&addr);
  int rc = connect(fd_, reinterpret_cast<sockaddr*>(&addr), len);
  if (rc == 0) {
    error_ = 0;
    state_ = CONN_CONNECTED;
    return 0;
  }
  RecordErrno();
  if (IsBlockingError(error_)) {
    // Reported as would-block, as callers of a non-blocking connect expect.
    error_ = kSocketWouldBlock;
    state_ = CONN_CONNECTING;
    EnableEvents(kfConnect);
  }
  return -1;
}

int PhysicalSocket::SendResult(ssize_t sent) {
  if (sent < 0) {
    RecordErrno();
    if (IsBlockingError(error_)) EnableEvents(kfWrite);
    return -1;
  }
  error_ = 0;
  return static_cast<int>(sent);
}

int PhysicalSocket::Send(const void* data, size_t length) {
  return SendResult(send(fd_, data, length, MSG_NOSIGNAL));
}

int PhysicalSocket::SendTo(const void* data, size_t length, const SocketAddress& address) {
  sockaddr_storage addr;
  socklen_t len = address.ToSockAddr(&addr);
  return SendResult(
      sendto(fd_, data, length, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), len));
}

int PhysicalSocket::Recv(void* buffer, size_t size) {
  ssize_t n = recv(fd_, buffer, size, 0);
  if (n == 0 && size > 0 && type_ == kStreamSocket) {
    // End of stream: the close is reported through CloseEvent once the hub sees it.
    error_ = kSocketWouldBlock;
    EnableEvents(kfRead);
    return -1;
  }
  if (n < 0) {
    RecordErrno();
    if (!IsBlockingError(error_)) return -1;
    EnableEvents(kfRead);
    return -1;
  }
  error_ = 0;
  EnableEvents(kfRead);
  return static_cast<int>(n);
}

int PhysicalSocket::RecvFrom(void* buffer, size_t size, SocketAddress* from) {
  sockaddr_storage addr{};
  socklen_t len = sizeof(addr);
  ssize_t n = recvfrom(fd_, buffer, size, 0, reinterpret_cast<sockaddr*>(&addr), &len);
  if (n < 0) {
    RecordErrno();
    if (IsBlockingError(error_)) EnableEvents(kfRead);
    return -1;
  }
  error_ = 0;
  if (from) from->FromSockAddr(reinterpret_cast<sockaddr*>(&addr), len);
  EnableEvents(kfRead);
  return static_cast<int>(n);
}

int PhysicalSocket::Listen(int backlog) {
  int rc = listen(fd_, backlog);
  RecordErrno();
  if (rc != 0) return -1;
  error_ = 0;
  listening_ = true;
  state_ = CONN_CONNECTING;
  EnableEvents(kfRead);
  return 0;
}

EventSocket* PhysicalSocket::Accept(SocketAddress* from) {
  sockaddr_storage addr{};
  socklen_t len = sizeof(addr);
  int fd = accept4(fd_, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
  if (fd < 0) {
    RecordErrno();
    if (IsBlockingError(error_)) EnableEvents(kfRead);
    return nullptr;
  }
  error_ = 0;
  EnableEvents(kfRead);
  if (from) from->FromSockAddr(reinterpret_cast<sockaddr*>(&addr), len);
  return hub_->WrapSocket(fd, type_);
}

int PhysicalSocket::Close() {
  if (fd_ < 0) return 0;
  if (type_ == kStreamSocket && state_ == CONN_CONNECTED) DiscardUnreadInput();
  int rc = close(fd_);
  RecordErrno();
  if (rc == 0) error_ = 0;
  fd_ = -1;
  state_ = CONN_CLOSED;
  listening_ = false;
  return rc;
}

void PhysicalSocket::DiscardUnreadInput() {
  // Closing a TCP socket that still holds unread input resets the connection, and a reset
  // can take with it what we sent last (a closing "</stream:stream>") before the peer read it:
  // what nobody will read is taken off first, so the close is an orderly FIN.
  char scratch[4096];
  for (int i = 0; i < 64; ++i) {
    const ssize_t n = recv(fd_, scratch, sizeof(scratch), MSG_DONTWAIT);
    if (n <= 0) break;
  }
}

uint16_t PhysicalSocket::SnapToPlateau(int mtu) {
  static const uint16_t kPlateaus[] = {65535, 32000, 17914, 8166, 4352, 2002,
                                       1492,  1006,  508,   296,  68};
  for (uint16_t plateau : kPlateaus) {
    if (mtu >= plateau) return plateau;
  }
  return 0;
}

int PhysicalSocket::EstimateMTU(uint16_t* mtu) {
  SocketAddress remote = GetRemoteAddress();
  if (remote.IsAny()) {
    error_ = kSocketNotConnected;
    return -1;
  }
  // The kernel's path MTU towards the peer, learnt by a connected datagram socket that may not
  // fragment.
  const bool v6 = remote.IsIPv6();
  int probe = socket(remote.family(), SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) {
    RecordErrno();
    return -1;
  }
  int discover = v6 ? IPV6_PMTUDISC_DO : IP_PMTUDISC_DO;
  setsockopt(probe, v6 ? IPPROTO_IPV6 : IPPROTO_IP, v6 ? IPV6_MTU_DISCOVER : IP_MTU_DISCOVER,
             &discover, sizeof(discover));
  sockaddr_storage addr;
  socklen_t addr_len = remote.ToSockAddr(&addr);
  int value = 0;
  socklen_t len = sizeof(value);
  bool ok = connect(probe, reinterpret_cast<sockaddr*>(&addr), addr_len) == 0 &&
            getsockopt(probe, v6 ? IPPROTO_IPV6 : IPPROTO_IP, v6 ? IPV6_MTU : IP_MTU, &value,
                       &len) == 0;
  if (!ok) RecordErrno();
  close(probe);
  if (!ok) return -1;
  uint16_t plateau = SnapToPlateau(value);
  if (plateau == 0) {
    error_ = kSocketMessageSize;
    return -1;
  }
  *mtu = plateau;
  return 0;
}

int PhysicalSocket::SetOption(SocketOption option, int value) {
  int rc;
  if (option == OPT_NODELAY) {
    int on = value ? 1 : 0;
    rc = setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  } else if (family_ == AF_INET6) {
    int discover = value ? IPV6_PMTUDISC_DO : IPV6_PMTUDISC_DONT;
    rc = setsockopt(fd_, IPPROTO_IPV6, IPV6_MTU_DISCOVER, &discover, sizeof(discover));
  } else {
    int discover = value ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    rc = setsockopt(fd_, IPPROTO_IP, IP_MTU_DISCOVER, &discover, sizeof(discover));
  }
  if (rc != 0) RecordErrno();
  return rc == 0 ? 0 : -1;
}

}  // namespace vexalo
