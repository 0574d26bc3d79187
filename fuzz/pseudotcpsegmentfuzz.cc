// Feeds arbitrary segments into a live pseudo-TCP connection that has data of its own in
// flight, with the clock moving between them. Input: records of [2-byte length][1-byte clock
// step in 100 ms][length bytes of segment]. Whatever arrives, the connection must not crash,
// must hold no more than its buffers, and must stay answerable.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "p2p/base/pseudotcp.h"

namespace {

using namespace vexalo;

class Sink : public PseudoTcpOwner {
 public:
  void OnTcpOpen(PseudoTcp*) override {}
  void OnTcpReadable(PseudoTcp* tcp) override {
    char buffer[2048];
    while (tcp->Recv(buffer, sizeof buffer) > 0) {
    }
  }
  void OnTcpWriteable(PseudoTcp*) override {}
  void OnTcpClosed(PseudoTcp*, int) override {}
  WriteResult TcpWritePacket(PseudoTcp*, const char*, size_t length) override {
    // Exercise the MTU steps now and then.
    return length > 9000 ? WR_TOO_LARGE : WR_SUCCESS;
  }
};

std::string Header(uint32_t seq, uint32_t ack, uint8_t flags) {
  std::string s(PseudoTcp::kHeaderSize, '\0');
  for (int i = 0; i < 4; ++i) {
    s[4 + i] = static_cast<char>(seq >> (24 - 8 * i));
    s[8 + i] = static_cast<char>(ack >> (24 - 8 * i));
  }
  s[13] = static_cast<char>(flags);
  s[14] = static_cast<char>(0xF0);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Tick now = 1000;
  Sink sink;
  PseudoTcp tcp(&sink, 0, [&now] { return now; });
  // The peer connects; our reply's ACK establishes the connection.
  std::string connect = Header(0, 0, PseudoTcp::kFlagControl) + std::string(1, '\0');
  tcp.NotifyPacket(connect.data(), connect.size());
  std::string ack = Header(1, 1, 0);
  tcp.NotifyPacket(ack.data(), ack.size());
  std::string outgoing(20000, 'x');
  tcp.Send(outgoing.data(), outgoing.size());

  size_t at = 0;
  while (at + 3 <= size) {
    size_t length = (size_t{data[at]} << 8) | data[at + 1];
    now += int64_t{data[at + 2]} * 100;
    at += 3;
    length = std::min(length, size - at);
    tcp.NotifyPacket(reinterpret_cast<const char*>(data + at), length);
    at += length;
    tcp.NotifyClock(now);
    int64_t timeout = 0;
    tcp.GetNextClock(now, &timeout);
    if (tcp.buffered_receive() > PseudoTcp::kBufferSize || tcp.buffered_send() > PseudoTcp::kSendBufferSize) abort();
    tcp.Send(outgoing.data(), 1000);
  }
  return 0;
}
