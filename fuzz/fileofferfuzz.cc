// Parses arbitrary text as a tunnel description (a file offer) and reduces any offered name to
// the plain file name a receiver would create. Nothing may crash; an accepted offer keeps its
// limits, and the reduced name is never empty, never a path, never hidden and never carries
// control characters.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "session/tunnel/plainfilename.h"
#include "session/tunnel/tunneldescription.h"
#include "session/tunnel/tunneldescriptionformat.h"
#include "xml/xmlelem.h"

namespace {

void CheckPlain(const std::string& name) {
  if (name.empty() || name.size() > vexalo::kMaxFileNameBytes) abort();
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) abort();
  if (name[0] == '.' || name[0] == ' ') abort();
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckPlain(vexalo::PlainFileName(text));
  std::unique_ptr<vexalo::XmlElem> element = vexalo::XmlElem::ParseFromString(text);
  if (element == nullptr) return 0;
  vexalo::TunnelDescriptionFormat format("urn:t");
  auto description = std::dynamic_pointer_cast<const vexalo::TunnelDescription>(format.ParseDescription(*element));
  if (description == nullptr || !description->file()) return 0;
  const vexalo::FileOffer& offer = *description->file();
  if (offer.name.empty() || offer.name.size() > vexalo::TunnelDescriptionFormat::kMaxFileNameLength) abort();
  if (offer.sha256.size() != 64) abort();
  CheckPlain(vexalo::PlainFileName(offer.name));
  return 0;
}
