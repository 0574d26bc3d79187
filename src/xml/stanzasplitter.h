#pragma once

#include <cstddef>
#include <cstdint>

#include "xml/treebuilder.h"
#include "xml/xmlelem.h"
#include "xml/xmlstreamparser.h"

namespace vexalo {

// Largest stanza we accept by default (before the peer has signed us in); also bounds what may
// be buffered between two stanzas.
inline constexpr size_t kMaxStanzaBytes = size_t{1} << 20;
// After sign-in a server sends whole rosters and history pages in one stanza: 100,000
// contacts are about 6 MB.
inline constexpr size_t kMaxSignedInStanzaBytes = size_t{16} << 20;

// Splits an endless XMPP stream: the root element opens the stream, and each element directly
// inside it is a stanza, delivered as a finished tree as soon as its end tag is parsed.
class StanzaSplitter : public ParseHandler {
 public:
  class Owner {
   public:
    virtual ~Owner() = default;
    // The stream's opening tag, without children; valid during the call only.
    virtual void StreamStarted(const XmlElem& header) = 0;
    // A complete stanza; valid during the call only (copy what must be kept).
    virtual void StanzaReceived(const XmlElem& stanza) = 0;
    // The stream's end tag.
    virtual void StreamEnded() = 0;
    // Parsing has stopped for good (until Reset).
    virtual void StreamXmlError(const XmlError& error) = 0;
  };

  explicit StanzaSplitter(Owner* owner);
  StanzaSplitter(const StanzaSplitter&) = delete;
  StanzaSplitter& operator=(const StanzaSplitter&) = delete;
  ~StanzaSplitter() override = default;

  // Feeds bytes as they arrive; false once the stream has failed. A Reset from one of the
  // owner's callbacks drops the rest of this input (it belonged to the old stream); the
  // splitter must not be destroyed from them.
  bool Parse(const char* data, size_t length, bool is_final = false);
  // Starts over for a new stream on the same connection; the stanza limit stays.
  void Reset();
  // Raises (or lowers) the largest stanza accepted from now on.
  void SetMaxStanzaBytes(size_t bytes) { max_stanza_bytes_ = static_cast<int64_t>(bytes); }
  const XmlError& error() const { return parser_.error(); }

  void StartElement(ParseContext& context, const char* raw_name,
                    const char** raw_attributes) override;
  void EndElement(ParseContext& context, const char* raw_name) override;
  void CharacterData(ParseContext& context, const char* bytes, int length) override;
  void Error(ParseContext& context, const XmlError& error) override;

 private:
  Owner* owner_;
  TreeBuilder builder_;
  XmlStreamParser parser_;
  // Open elements, the stream's root included: stanzas open at depth 2.
  int depth_ = 0;
  // Bytes given to the parser since the last reset, and where the stanza being read began (or
  // the last event between stanzas): what lies between them is what the parser holds for us.
  int64_t fed_ = 0;
  int64_t mark_ = 0;
  int64_t max_stanza_bytes_ = static_cast<int64_t>(kMaxStanzaBytes);
};

}  // namespace vexalo
