#include "xml/stanzasplitter.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "xml/xmlwriter.h"

namespace vexalo {
namespace {

constexpr std::string_view kHeader =
    "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams' from='d' id='s1' version='1.0'>";
const std::string_view kPredeclared[] = {"stream", "http://etherx.jabber.org/streams", "",
                                         "jabber:client"};

// Records what the splitter delivers, stanzas printed as the engine would print them.
class Recorder : public StanzaSplitter::Owner {
 public:
  void StreamStarted(const XmlElem& header) override {
    headers.push_back(header.Name().LocalName() + " id=" + header.GetAttribute(XmlName("", "id")));
    EXPECT_EQ(header.FirstNode(), nullptr);
  }
  void StanzaReceived(const XmlElem& stanza) override {
    stanzas.push_back(XmlWriter::ToString(stanza, kPredeclared));
  }
  void StreamEnded() override { ++ended; }
  void StreamXmlError(const XmlError& error) override {
    ++errors;
    last_error = error;
  }

  std::vector<std::string> headers;
  std::vector<std::string> stanzas;
  int ended = 0;
  int errors = 0;
  XmlError last_error;
};

bool Feed(StanzaSplitter& splitter, std::string_view bytes) {
  return splitter.Parse(bytes.data(), bytes.size(), false);
}

TEST(StanzaSplitterTest, DeliversHeaderStanzasAndEndWithoutKeepAliveWhitespace) {
  Recorder recorder;
  StanzaSplitter splitter(&recorder);
  ASSERT_TRUE(Feed(splitter, kHeader));
  EXPECT_EQ(recorder.headers, std::vector<std::string>{"stream id=s1"});
  ASSERT_TRUE(Feed(splitter, " \n <message to='a@d'><body>hi</body></message>  "));
  ASSERT_TRUE(Feed(splitter,
                   "\n<presence/> <iq type='get' id='1'><query xmlns='jabber:iq:roster'"
                   "/></iq>"));
  EXPECT_EQ(recorder.stanzas,
            (std::vector<std::string>{
                "<message to=\"a@d\"><body>hi</body></message>", "<presence/>",
                "<iq type=\"get\" id=\"1\"><query xmlns=\"jabber:iq:roster\"/></iq>"}));
  EXPECT_EQ(recorder.ended, 0);
  ASSERT_TRUE(Feed(splitter, "</stream:stream>"));
  EXPECT_EQ(recorder.ended, 1);
  EXPECT_EQ(recorder.errors, 0);
}

TEST(StanzaSplitterTest, StanzaIsDeliveredExactlyWhenItsLastByteArrives) {
  const std::vector<std::string> stanzas = {
      "<message to='a@d' type='chat'><body>h\xC3\xA9 &amp; <![CDATA[x]]></body></message>",
      "<presence/>",
      "<iq type='result' id='r'><query xmlns='jabber:iq:roster'><item jid='b@d'/></query></iq>",
  };
  std::string stream(kHeader);
  std::vector<size_t> ends;  // offset one past each stanza's last byte
  for (const std::string& stanza : stanzas) {
    stream += " ";
    stream += stanza;
    ends.push_back(stream.size());
  }
  stream += "</stream:stream>";

  auto complete_by = [&](size_t fed) {
    size_t n = 0;
    while (n < ends.size() && ends[n] <= fed) ++n;
    return n;
  };

  // Every split into two reads.
  for (size_t split = 0; split <= stream.size(); ++split) {
    Recorder recorder;
    StanzaSplitter splitter(&recorder);
    ASSERT_TRUE(Feed(splitter, std::string_view(stream).substr(0, split)));
    ASSERT_EQ(recorder.stanzas.size(), complete_by(split)) << "split at " << split;
    ASSERT_TRUE(Feed(splitter, std::string_view(stream).substr(split)));
    ASSERT_EQ(recorder.stanzas.size(), stanzas.size()) << "split at " << split;
    ASSERT_EQ(recorder.ended, 1);
  }

  // One byte at a time.
  Recorder recorder;
  StanzaSplitter splitter(&recorder);
  for (size_t i = 0; i < stream.size(); ++i) {
    ASSERT_TRUE(Feed(splitter, std::string_view(stream).substr(i, 1)));
    ASSERT_EQ(recorder.stanzas.size(), complete_by(i + 1)) << "after byte " << i;
  }
  EXPECT_EQ(recorder.stanzas[0],
            "<message to=\"a@d\" type=\"chat\"><body>h\xC3\xA9 &amp; x</body></message>");
  EXPECT_EQ(recorder.ended, 1);
}

TEST(StanzaSplitterTest, HostileInputEndsTheStreamWithItsKind) {
  const std::string billion_laughs =
      "<?xml version='1.0'?><!DOCTYPE lolz [<!ENTITY lol 'lol'>"
      "<!ENTITY lol2 '&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;'>"
      "<!ENTITY lol3 '&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;'>"
      "<!ENTITY lol4 '&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;'>"
      "<!ENTITY lol5 '&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;'>"
      "<!ENTITY lol6 '&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;'>"
      "<!ENTITY lol7 '&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;'>"
      "<!ENTITY lol8 '&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;'>"
      "<!ENTITY lol9 '&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;'>]>"
      "<stream:stream xmlns:stream='http://etherx.jabber.org/streams'>"
      "<message><body>&lol9;</body></message>";
  std::string deep(kHeader);
  for (int i = 0; i < kMaxXmlDepth; ++i) deep += "<a>";
  std::string too_many_declarations(kHeader);
  too_many_declarations += "<message";
  for (size_t i = 0; i <= kMaxNamespaceDeclarations; ++i) {
    too_many_declarations += " xmlns:p" + std::to_string(i) + "='u'";
  }
  too_many_declarations += "/>";
  std::string big_body(kHeader);
  big_body += "<message><body>" + std::string(kMaxStanzaBytes, 'x') + "</body></message>";
  std::string big_attribute(kHeader);  // a token expat can only buffer, never deliver
  big_attribute += "<message to='" + std::string(4 * kMaxStanzaBytes, 'x');
  std::string endless_tag(kHeader);
  endless_tag += "<message" + std::string(4 * kMaxStanzaBytes, ' ');
  std::string endless_prolog = "<?xml version='1.0'?>";
  endless_prolog += "<!--" + std::string(4 * kMaxStanzaBytes, 'x');

  struct Case {
    const char* name;
    std::string bytes;
    XmlErrorKind kind;
  } cases[] = {
      {"DOCTYPE with internal subset",
       "<!DOCTYPE s [<!ENTITY a 'b'>]><stream:stream xmlns:stream='s'>",
       XmlErrorKind::kRestrictedXml},
      {"billion laughs", billion_laughs, XmlErrorKind::kRestrictedXml},
      {"external entity", "<!DOCTYPE s SYSTEM 'file:///etc/passwd'><s>&x;</s>",
       XmlErrorKind::kRestrictedXml},
      {"processing instruction before the root", "<?evil data?><stream:stream xmlns:stream='s'>",
       XmlErrorKind::kRestrictedXml},
      {"processing instruction in a stanza",
       std::string(kHeader) + "<message><?evil data?></message>", XmlErrorKind::kRestrictedXml},
      {"undefined entity", std::string(kHeader) + "<message>&x;</message>",
       XmlErrorKind::kNotWellFormed},
      {"nesting too deep", deep, XmlErrorKind::kNestingTooDeep},
      {"too many namespace declarations", too_many_declarations, XmlErrorKind::kTooManyNamespaces},
      {"stanza over the size limit", big_body, XmlErrorKind::kStanzaTooLarge},
      {"unfinished attribute over the size limit", big_attribute, XmlErrorKind::kStanzaTooLarge},
      {"unfinished tag over the size limit", endless_tag, XmlErrorKind::kStanzaTooLarge},
      {"endless comment before the root", endless_prolog, XmlErrorKind::kStanzaTooLarge},
      {"invalid UTF-8", std::string(kHeader) + "<message><body>\xC3\x28</body></message>",
       XmlErrorKind::kNotWellFormed},
      {"UTF-8 encoded surrogate", std::string(kHeader) + "<message>\xED\xA0\x80</message>",
       XmlErrorKind::kNotWellFormed},
      {"UTF-16 with byte order mark", std::string("\xFF\xFE<\0s\0>\0", 8),
       XmlErrorKind::kUnsupportedEncoding},
      {"UTF-16 big-endian with byte order mark", std::string("\xFE\xFF\0<\0s\0>", 8),
       XmlErrorKind::kUnsupportedEncoding},
      {"UTF-16 without byte order mark", std::string("<\0s\0>\0", 6),
       XmlErrorKind::kUnsupportedEncoding},
      {"UTF-16 big-endian without byte order mark", std::string("\0<\0s\0>", 6),
       XmlErrorKind::kUnsupportedEncoding},
      {"NUL byte", std::string(kHeader) + std::string("<message>\0</message>", 20),
       XmlErrorKind::kNotWellFormed},
      {"control character reference", std::string(kHeader) + "<message>&#1;</message>",
       XmlErrorKind::kNotWellFormed},
      {"declared encoding not UTF-8",
       "<?xml version='1.0' encoding='ISO-8859-1'?><stream:stream xmlns:stream='s'>",
       XmlErrorKind::kUnsupportedEncoding},
      {"undeclared prefix in the header", "<stream:stream>", XmlErrorKind::kBadNamespacePrefix},
      {"undeclared prefix in a stanza", std::string(kHeader) + "<p:message/>",
       XmlErrorKind::kBadNamespacePrefix},
      {"junk after the stream", std::string(kHeader) + "</stream:stream><more/>",
       XmlErrorKind::kNotWellFormed},
  };
  for (const Case& c : cases) {
    Recorder recorder;
    StanzaSplitter splitter(&recorder);
    // Socket-sized reads, as the connection feeds them.
    bool ok = true;
    for (size_t at = 0; ok && at < c.bytes.size(); at += 4096) {
      ok = Feed(splitter, std::string_view(c.bytes).substr(at, 4096));
    }
    EXPECT_FALSE(ok) << c.name;
    EXPECT_EQ(recorder.errors, 1) << c.name;
    EXPECT_EQ(recorder.last_error.kind, c.kind)
        << c.name << ": " << XmlErrorKindName(recorder.last_error.kind);
    EXPECT_EQ(splitter.error().kind, c.kind) << c.name;
    EXPECT_TRUE(recorder.stanzas.empty()) << c.name;
    // Once failed, the splitter stays failed and quiet.
    EXPECT_FALSE(Feed(splitter, "<presence/>")) << c.name;
    EXPECT_EQ(recorder.errors, 1) << c.name;
  }
}

TEST(StanzaSplitterTest, InputJustInsideTheLimitsIsAccepted) {
  Recorder recorder;
  StanzaSplitter splitter(&recorder);
  ASSERT_TRUE(Feed(splitter, kHeader));

  std::string deepest;  // the stream's root plus kMaxXmlDepth - 1 levels
  for (int i = 1; i < kMaxXmlDepth; ++i) deepest += "<a>";
  for (int i = 1; i < kMaxXmlDepth; ++i) deepest += "</a>";
  ASSERT_TRUE(Feed(splitter, deepest));

  // A stanza of almost the limit, in one read and split over many.
  const std::string open = "<message><body>";
  const std::string close = "</body></message>";
  const std::string large =
      open + std::string(kMaxStanzaBytes - open.size() - close.size(), 'x') + close;
  ASSERT_EQ(large.size(), kMaxStanzaBytes);
  ASSERT_TRUE(Feed(splitter, large));
  for (size_t at = 0; at < large.size(); at += 4096) {
    ASSERT_TRUE(Feed(splitter, std::string_view(large).substr(at, 4096)));
  }

  // Many stanzas and keep-alives adding up to far more than the limit.
  const std::string small = "<presence/>" + std::string(1000, ' ');
  std::string many;
  while (many.size() < 3 * kMaxStanzaBytes) many += small;
  ASSERT_TRUE(Feed(splitter, many));
  EXPECT_EQ(recorder.errors, 0);
  EXPECT_EQ(recorder.stanzas.size(), 3 + many.size() / small.size());
}

// Resets from inside the owner's callbacks, as a restart after TLS would if done eagerly.
class ResettingRecorder : public Recorder {
 public:
  explicit ResettingRecorder(StanzaSplitter** splitter) : splitter_(splitter) {}
  void StanzaReceived(const XmlElem& stanza) override {
    Recorder::StanzaReceived(stanza);
    if (stanza.Name().LocalName() == "proceed") (*splitter_)->Reset();
  }

 private:
  StanzaSplitter** splitter_;
};

TEST(StanzaSplitterTest, ResetFromACallbackDropsTheRestOfThatInput) {
  StanzaSplitter* pointer = nullptr;
  ResettingRecorder recorder(&pointer);
  StanzaSplitter splitter(&recorder);
  pointer = &splitter;
  ASSERT_TRUE(Feed(splitter, kHeader));
  ASSERT_TRUE(Feed(splitter, "<proceed/><old-stream-bytes/>"));
  EXPECT_EQ(recorder.stanzas, std::vector<std::string>{"<proceed/>"});
  ASSERT_TRUE(Feed(splitter, kHeader));
  ASSERT_TRUE(Feed(splitter, "<message/>"));
  EXPECT_EQ(recorder.headers.size(), 2u);
  EXPECT_EQ(recorder.stanzas, (std::vector<std::string>{"<proceed/>", "<message/>"}));
  EXPECT_EQ(recorder.errors, 0);
}

TEST(StanzaSplitterTest, ResetAfterAnErrorStartsAFreshStream) {
  Recorder recorder;
  StanzaSplitter splitter(&recorder);
  ASSERT_TRUE(Feed(splitter, kHeader));
  EXPECT_FALSE(Feed(splitter, "<message><broken</message>"));
  splitter.Reset();
  ASSERT_TRUE(Feed(splitter, kHeader));
  ASSERT_TRUE(Feed(splitter, "<message/>"));
  EXPECT_EQ(recorder.stanzas, std::vector<std::string>{"<message/>"});
  EXPECT_EQ(recorder.headers.size(), 2u);
}

}  // namespace
}  // namespace vexalo
