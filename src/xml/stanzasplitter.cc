#include "xml/stanzasplitter.h"

#include <algorithm>
#include <cstring>

namespace vexalo {
namespace {

// Input is fed in pieces so that an unfinished stanza cannot grow far past the limit before
// it is checked.
constexpr size_t kFeedPiece = 16 * 1024;

}  // namespace

StanzaSplitter::StanzaSplitter(Owner* owner) : owner_(owner), parser_(this) {}

bool StanzaSplitter::Parse(const char* data, size_t length, bool is_final) {
  const uint64_t generation = parser_.generation();
  do {
    size_t piece = std::min(length, kFeedPiece);
    bool last = piece == length;
    fed_ += static_cast<int64_t>(piece);
    if (!parser_.Parse(data, piece, is_final && last)) return false;
    if (parser_.generation() != generation) return true;
    if (fed_ - mark_ > max_stanza_bytes_) {
      parser_.Fail(XmlErrorKind::kStanzaTooLarge);
      return false;
    }
    data += piece;
    length -= piece;
  } while (length > 0);
  return true;
}

void StanzaSplitter::Reset() {
  parser_.Reset();
  builder_.Clear();
  depth_ = 0;
  fed_ = 0;
  mark_ = 0;
}

void StanzaSplitter::StartElement(ParseContext& context, const char* raw_name,
                                  const char** raw_attributes) {
  ++depth_;
  if (depth_ == 1) {
    mark_ = parser_.CurrentByteIndex();
    std::unique_ptr<XmlElem> header = TreeBuilder::BuildElement(context, raw_name, raw_attributes);
    if (header != nullptr) owner_->StreamStarted(*header);
    return;
  }
  if (depth_ == 2) mark_ = parser_.CurrentByteIndex();
  builder_.StartElement(context, raw_name, raw_attributes);
}

void StanzaSplitter::EndElement(ParseContext& context, const char* raw_name) {
  --depth_;
  if (depth_ <= 0) {
    depth_ = 0;
    owner_->StreamEnded();
    return;
  }
  builder_.EndElement(context, raw_name);
  if (depth_ != 1) return;
  const int64_t end = parser_.CurrentByteIndex() + 3 + static_cast<int64_t>(std::strlen(raw_name));
  if (end - mark_ > max_stanza_bytes_) {
    // It fitted in the buffer checks only because it ended inside one piece.
    context.RaiseError(XmlErrorKind::kStanzaTooLarge);
    return;
  }
  mark_ = parser_.CurrentByteIndex();
  std::unique_ptr<XmlElem> stanza = builder_.TakeRoot();
  if (stanza != nullptr) owner_->StanzaReceived(*stanza);
}

void StanzaSplitter::CharacterData(ParseContext& context, const char* bytes, int length) {
  if (depth_ > 1) {
    builder_.CharacterData(context, bytes, length);
  } else {
    // Text directly inside the stream (whitespace keep-alives) is dropped.
    mark_ = parser_.CurrentByteIndex();
  }
}

void StanzaSplitter::Error(ParseContext&, const XmlError& error) {
  builder_.Clear();
  owner_->StreamXmlError(error);
}

}  // namespace vexalo
