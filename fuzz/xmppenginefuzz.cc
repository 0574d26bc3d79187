// Plays an arbitrary server against the stream engine and its login, in reads of varying
// sizes (chosen by the first byte). Nothing may crash, and a closed engine stays closed.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "xmpp/stream/loginsequence.h"
#include "xmpp/stream/plainmechanismchooser.h"
#include "xmpp/stream/streamengine.h"

namespace {

using namespace vexalo;

class Sink : public OutputSink, public StanzaHandler {
 public:
  void WriteOutput(const char*, size_t length) override { written += length; }
  void StartTls(std::string_view) override {}
  void CloseConnection() override { closed = true; }
  bool HandleStanza(const XmlElem&) override { return false; }
  size_t written = 0;
  bool closed = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t read_size = 1 + data[0] % 64;
  ++data;
  --size;
  Sink sink;
  StreamEngine engine(&LoginSequence::Create);
  engine.SetUser(XmppAddress("alice@example.net"));
  engine.SetOutputSink(&sink);
  engine.SetUseTls(false);
  engine.SetMechanismChooser(std::make_unique<PlainMechanismChooser>(
      XmppAddress("alice@example.net"), SecretText::FromClearText("pw"), true));
  engine.AddStanzaHandler(&sink, kLevelThird);
  engine.Connect();
  for (size_t offset = 0; offset < size; offset += read_size) {
    const size_t n = size - offset < read_size ? size - offset : read_size;
    engine.HandleInput(reinterpret_cast<const char*>(data) + offset, n);
  }
  if (engine.GetState() == EngineState::kClosed && !sink.closed) abort();
  return 0;
}
