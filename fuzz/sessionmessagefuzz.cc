// Parses arbitrary text as an incoming session iq. Nothing may crash; a parsed message never
// holds more candidates than the limit, every candidate it holds passes the rules again, and
// what parses writes back to an iq that parses to the same type and session.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "p2p/client/candidateelement.h"
#include "p2p/client/sessionmessagecodec.h"
#include "p2p/client/xmldescriptionformat.h"
#include "xml/xmlelem.h"
#include "xml/xmlwriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vexalo;
  static XmlDescriptionFormat format("urn:test:session:desc");
  static SessionMessageCodec codec("urn:test:session", &format);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<XmlElem> stanza = XmlElem::ParseFromString(text);
  if (stanza == nullptr) return 0;
  SessionMessage message;
  if (codec.Parse(*stanza, &message) != SessionMessageCodec::PARSE_OK) return 0;
  if (message.candidates.size() > SessionMessageCodec::kMaxCandidatesPerMessage) abort();
  for (const Candidate& candidate : message.candidates) {
    Candidate again;
    if (!CandidateElement::Parse(*CandidateElement::Write(candidate, XmlName("", "candidate")),
                                 &again, nullptr) ||
        again != candidate) {
      abort();
    }
  }
  std::unique_ptr<XmlElem> written = codec.Write(message, "me@test/r");
  written->SetAttribute(XmlName("", "from"), message.from);
  SessionMessage back;
  if (codec.Parse(*XmlElem::ParseFromString(XmlWriter::ToString(*written)), &back) !=
          SessionMessageCodec::PARSE_OK ||
      back.type != message.type || !(back.session_id == message.session_id) ||
      back.candidates.size() != message.candidates.size()) {
    abort();
  }
  return 0;
}
