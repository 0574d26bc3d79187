// Feeds arbitrary bytes, in arbitrary pieces, to the framed TCP reader. Every delivered packet
// must lie inside the buffer and the bytes must add up.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/net/asynctcpsocket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vexalo::AsyncTcpSocket;
  std::vector<char> buffer(AsyncTcpSocket::kBufferSize);
  size_t fill = 0;
  size_t consumed = 0;
  size_t offset = 0;
  // The first byte of each piece says how long the piece is, as a reader would see it.
  while (offset < size) {
    size_t piece = 1 + data[offset++] * 37;
    piece = std::min(piece, size - offset);
    piece = std::min(piece, buffer.size() - fill);
    std::memcpy(buffer.data() + fill, data + offset, piece);
    offset += piece;
    fill = AsyncTcpSocket::ExtractFrames(
        buffer.data(), fill + piece, [&](const char* packet, size_t length) {
          if (packet < buffer.data() || packet + length > buffer.data() + buffer.size()) abort();
          consumed += length + 2;
        });
    if (fill > AsyncTcpSocket::kMaxPacketSize + 1) abort();  // a whole frame never waits
    if (piece == 0) break;
  }
  (void)consumed;
  return 0;
}
