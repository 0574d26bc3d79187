// Feeds arbitrary bytes to the stanza splitter in reads of varying sizes (chosen by the first
// byte). Nothing may crash; the reads must not change what is delivered; and every delivered
// stanza must print to text that parses back to the same stanza.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "xml/stanzasplitter.h"
#include "xml/xmlwriter.h"

namespace {

using vexalo::StanzaSplitter;
using vexalo::XmlElem;
using vexalo::XmlError;
using vexalo::XmlErrorKind;
using vexalo::XmlWriter;

const std::string_view kPredeclared[] = {"stream", "http://etherx.jabber.org/streams", "",
                                         "jabber:client"};

class Collector : public StanzaSplitter::Owner {
 public:
  explicit Collector(bool verify) : verify_(verify) {}

  void StreamStarted(const XmlElem& header) override { events.push_back("H" + Print(header)); }
  void StanzaReceived(const XmlElem& stanza) override { events.push_back("S" + Print(stanza)); }
  void StreamEnded() override { events.push_back("E"); }
  void StreamXmlError(const XmlError& error) override {
    // expat's error number may depend on how much it had seen; the kind may not.
    events.push_back(std::string("X") + vexalo::XmlErrorKindName(error.kind));
    kind = error.kind;
  }

  std::vector<std::string> events;
  XmlErrorKind kind = XmlErrorKind::kNone;

 private:
  std::string Print(const XmlElem& elem) {
    std::string printed = XmlWriter::ToString(elem, kPredeclared);
    if (verify_) Reparse(printed);
    return printed;
  }

  // Inside a stream that declares the same pairs, the printed element parses and prints the
  // same again.
  static void Reparse(const std::string& printed) {
    std::string wrapped =
        "<stream:stream xmlns='jabber:client' xmlns:stream='http://etherx.jabber.org/streams'>" +
        printed;
    Collector inner(false);
    StanzaSplitter splitter(&inner);
    if (!splitter.Parse(wrapped.data(), wrapped.size())) {
      // Printing may add declarations or escapes: only a limit may refuse the result.
      if (inner.kind == XmlErrorKind::kTooManyNamespaces ||
          inner.kind == XmlErrorKind::kStanzaTooLarge) {
        return;
      }
      Fail(printed, inner.events);
    }
    if (inner.events.size() != 2 || inner.events[1] != "S" + printed) Fail(printed, inner.events);
  }

  [[noreturn]] static void Fail(const std::string& printed,
                                const std::vector<std::string>& events) {
    fprintf(stderr, "printed: %s\n", printed.c_str());
    for (const std::string& event : events) fprintf(stderr, "reparsed: %s\n", event.c_str());
    abort();
  }

  bool verify_;
};

std::vector<std::string> Run(std::string_view bytes, uint8_t seed) {
  Collector collector(true);
  StanzaSplitter splitter(&collector);
  uint32_t state = seed * 2654435761u + 1;
  size_t at = 0;
  while (at < bytes.size()) {
    state = state * 1103515245u + 12345u;
    size_t length = seed == 0 ? bytes.size() : 1 + (state >> 16) % (seed % 64 + 1);
    if (length > bytes.size() - at) length = bytes.size() - at;
    splitter.Parse(bytes.data() + at, length, false);
    at += length;
  }
  splitter.Parse(nullptr, 0, true);
  return collector.events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> split = Run(bytes, data[0]);
  std::vector<std::string> whole = Run(bytes, 0);
  if (split != whole) abort();
  return 0;
}
