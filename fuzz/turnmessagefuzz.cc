// Parses arbitrary datagrams as TURN messages and checks their integrity with a fixed key;
// a message that parses must serialize again without growing past its bounds.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "p2p/base/turnmessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vexalo;
  const char* bytes = reinterpret_cast<const char*>(data);
  TurnMessage message;
  if (!message.Parse(bytes, size)) return 0;
  TurnMessage::CheckIntegrity(bytes, size, "0123456789abcdef");
  SocketAddress address;
  message.FindXorAddress(TurnMessage::kXorPeerAddress, &address);
  message.ErrorCode();
  if (message.Serialize().size() > size + 4 * TurnMessage::kMaxAttributes + 64) abort();
  return 0;
}
