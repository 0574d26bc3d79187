// Parses arbitrary text as a phone description. Nothing may crash; the result never holds
// more codecs than the limit or a payload type RTP cannot carry, and what it holds writes
// back to a description that parses to the same payload types and names.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "session/phone/codecnegotiator.h"
#include "session/phone/phonedescriptionformat.h"
#include "xml/xmlelem.h"
#include "xml/xmlwriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vexalo;
  static PhoneDescriptionFormat format("urn:test:session:phone");
  static CodecNegotiator negotiator(
      {{111, "opus", 0}, {110, "speex", 0}, {0, "PCMU", 0}, {8, "PCMA", 0}, {13, "CN", 0}});
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<XmlElem> element = XmlElem::ParseFromString(text);
  if (element == nullptr) return 0;
  PhoneDescription description = format.Parse(*element);
  if (description.codecs().size() > PhoneDescriptionFormat::kMaxCodecs) abort();
  for (const Codec& codec : description.codecs()) {
    if (codec.id < 0 || codec.id > PhoneDescriptionFormat::kMaxPayloadType) abort();
  }
  PhoneDescription answer = negotiator.CreateAnswer(description);
  if (answer.codecs().size() > description.codecs().size() * negotiator.local_codecs().size()) {
    abort();
  }
  if (description.codecs().empty()) return 0;
  std::unique_ptr<XmlElem> written = format.Write(description);
  std::unique_ptr<XmlElem> reparsed = XmlElem::ParseFromString(XmlWriter::ToString(*written));
  if (reparsed == nullptr) abort();
  // Preferences are ours, not on the wire: ids and names must come back.
  const std::vector<Codec> again = format.Parse(*reparsed).codecs();
  if (again.size() != description.codecs().size()) abort();
  for (size_t i = 0; i < again.size(); ++i) {
    if (again[i].id != description.codecs()[i].id ||
        again[i].name != description.codecs()[i].name) {
      abort();
    }
  }
  return 0;
}
