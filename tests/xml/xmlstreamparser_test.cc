#include "xml/xmlstreamparser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "xml/treebuilder.h"
#include "xml/xmlconstants.h"
#include "xml/xmlelem.h"

namespace vexalo {
namespace {

// Parses one document and reports the error (code 0 when it parsed), checking that a failed
// parse leaves no tree behind.
XmlError ParseDocument(std::string_view text) {
  TreeBuilder builder;
  XmlStreamParser parser(&builder);
  bool ok = parser.Parse(text.data(), text.size(), true);
  EXPECT_EQ(ok, parser.error().code == 0) << text;
  std::unique_ptr<XmlElem> root = builder.TakeRoot();
  EXPECT_EQ(ok, root != nullptr) << text;
  return parser.error();
}

TEST(XmlParseTest, DefaultNamespaceReachesChildrenButTheDeclarationStaysOnItsElement) {
  std::unique_ptr<XmlElem> a = XmlElem::ParseFromString("<a xmlns='u'><b/></a>");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Name(), XmlName("u", "a"));
  EXPECT_EQ(a->GetAttribute(kQnXmlns), "u");
  XmlElem* b = a->FirstChildElement();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Name(), XmlName("u", "b"));
  EXPECT_EQ(b->FirstAttribute(), nullptr);
}

TEST(XmlParseTest, NamesResolveAgainstTheDeclarationsInForce) {
  std::unique_ptr<XmlElem> a = XmlElem::ParseFromString(
      "<p:a xmlns:p='u' xmlns='d' p:x='1' y='2' xml:lang='en'><b/><p:c xmlns:p='v'/></p:a>");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Name(), XmlName("u", "a"));
  EXPECT_EQ(a->GetAttribute(XmlName(kNsXmlns, "p")), "u");
  EXPECT_EQ(a->GetAttribute(XmlName("u", "x")), "1");
  EXPECT_EQ(a->GetAttribute(XmlName("", "y")), "2");  // not in the default namespace
  EXPECT_EQ(a->GetAttribute(XmlName(kNsXml, "lang")), "en");
  EXPECT_EQ(a->FindChild(XmlName("d", "b"))->Name().NamespaceUri(), "d");
  EXPECT_NE(a->FindChild(XmlName("v", "c")), nullptr);
}

TEST(XmlParseTest, RefusedDocumentsAndTheirErrors) {
  std::string deep;
  for (int i = 0; i <= kMaxXmlDepth; ++i) deep += "<a>";
  for (int i = 0; i <= kMaxXmlDepth; ++i) deep += "</a>";
  struct Case {
    const char* name;
    const char* xml;
    XmlErrorKind kind;
    int code;
  } cases[] = {
      {"undeclared element prefix", "<p:a/>", XmlErrorKind::kBadNamespacePrefix, 2},
      {"undeclared attribute prefix", "<a p:x='1'/>", XmlErrorKind::kBadNamespacePrefix, 2},
      {"prefix out of scope", "<a><b xmlns:p='u'/><p:c/></a>", XmlErrorKind::kBadNamespacePrefix,
       2},
      {"reserved prefix", "<xmlfoo:a xmlns:xmlfoo='u'/>", XmlErrorKind::kBadNamespacePrefix, 2},
      {"reserved prefix in capitals", "<a XML:lang='en'/>", XmlErrorKind::kBadNamespacePrefix, 2},
      {"empty prefix declaration", "<a xmlns:p=''/>", XmlErrorKind::kBadNamespacePrefix, 2},
      {"declaration of no prefix", "<a xmlns:='u'/>", XmlErrorKind::kBadNamespacePrefix, 2},
      {"empty local part", "<a xmlns:p='u'><p:/></a>", XmlErrorKind::kBadNamespacePrefix, 2},
      {"empty prefix part", "<:a/>", XmlErrorKind::kBadNamespacePrefix, 2},
      {"two colons", "<a xmlns:p='u'><p:b:c/></a>", XmlErrorKind::kBadNamespacePrefix, 2},
      // Each is an XML name but not a namespace name; printed again it would not parse.
      {"prefix starting with a digit", "<a xmlns:6='u' xmlns:p='u' p:x='1'/>",
       XmlErrorKind::kBadNamespacePrefix, 2},
      {"prefix starting with a dash", "<a xmlns:-p='u'/>", XmlErrorKind::kBadNamespacePrefix, 2},
      {"prefix with a colon", "<a xmlns:p:q='u'/>", XmlErrorKind::kBadNamespacePrefix, 2},
      {"prefix starting with a combining mark", "<a xmlns:\xCC\x81p='u'/>",
       XmlErrorKind::kBadNamespacePrefix, 2},
      {"local part starting with a digit", "<p:6a xmlns:p='u'/>", XmlErrorKind::kBadNamespacePrefix,
       2},
      {"attribute local part starting with a dot", "<a xmlns:p='u' p:.x='1'/>",
       XmlErrorKind::kBadNamespacePrefix, 2},
      {"same attribute through two prefixes", "<a xmlns:p='u' xmlns:q='u' p:x='1' q:x='2'/>",
       XmlErrorKind::kNotWellFormed, 2},
      {"same raw attribute twice", "<a x='1' x='2'/>", XmlErrorKind::kNotWellFormed, 8},
      {"version other than 1.0", "<?xml version='1.1'?><a/>", XmlErrorKind::kNotWellFormed, 2},
      {"standalone no", "<?xml version='1.0' standalone='no'?><a/>", XmlErrorKind::kNotWellFormed,
       2},
      {"encoding not UTF-8", "<?xml version='1.0' encoding='ISO-8859-1'?><a/>",
       XmlErrorKind::kUnsupportedEncoding, 19},
      {"encoding UTF-16 declared", "<?xml version='1.0' encoding='UTF-16'?><a/>",
       XmlErrorKind::kUnsupportedEncoding, 19},
      {"unclosed", "<a>", XmlErrorKind::kNotWellFormed, 3},
      {"mismatched end tag", "<a></b>", XmlErrorKind::kNotWellFormed, 7},
      {"two roots", "<a/><b/>", XmlErrorKind::kNotWellFormed, 9},
      {"empty", "", XmlErrorKind::kNotWellFormed, 3},
      {"text only", "hello", XmlErrorKind::kNotWellFormed, 2},
      {"DOCTYPE", "<!DOCTYPE a [<!ENTITY e 'x'>]><a>&e;</a>", XmlErrorKind::kRestrictedXml, 2},
      {"processing instruction", "<a><?pi x?></a>", XmlErrorKind::kRestrictedXml, 2},
      {"nesting too deep", deep.c_str(), XmlErrorKind::kNestingTooDeep, 2},
  };
  for (const Case& c : cases) {
    XmlError error = ParseDocument(c.xml);
    EXPECT_EQ(error.kind, c.kind) << c.name << ": " << XmlErrorKindName(error.kind);
    EXPECT_EQ(error.code, c.code) << c.name;
  }
}

TEST(XmlParseTest, AcceptedDeclarationsAndNames) {
  const char* cases[] = {
      "<?xml version='1.0' encoding='utf-8'?><a/>",
      "<?xml version='1.0' encoding='UTF-8'?><a/>",
      "<?xml version='1.0'?><a/>",
      "<?xml version='1.0' standalone='yes'?><a/>",
      "\xEF\xBB\xBF<a/>",  // UTF-8 byte order mark
      "<a xmlnsfoo='not a declaration'/>",
      "<xm:a xmlns:xm='u'/>",                      // two letters are not reserved
      "<_p:a-1 xmlns:_p='u' _p:x.2='1'/>",         // digits and dots after the first letter
      "<\xC3\xA9:b xmlns:\xC3\xA9='u'/>",          // a non-ASCII letter starts a prefix
      "<a xmlns='u' xmlns:p='u' p:x='1' x='2'/>",  // same local, different namespaces
  };
  for (const char* xml : cases) EXPECT_EQ(ParseDocument(xml).code, 0) << xml;
}

// Records events so the failure rules can be checked: nothing is delivered after an error.
class EventLog : public ParseHandler {
 public:
  void StartElement(ParseContext&, const char* name, const char**) override {
    events += std::string("<") + name;
  }
  void EndElement(ParseContext&, const char* name) override { events += std::string("/") + name; }
  void CharacterData(ParseContext&, const char* bytes, int length) override {
    events.append(bytes, static_cast<size_t>(length));
  }
  void Error(ParseContext&, const XmlError&) override { ++errors; }

  std::string events;
  int errors = 0;
};

TEST(XmlParseTest, AfterAnErrorNothingIsDeliveredUntilReset) {
  EventLog log;
  XmlStreamParser parser(&log);
  const std::string bad = "<a>t<b xmlns:p=''/><c/>";
  EXPECT_FALSE(parser.Parse(bad.data(), bad.size(), false));
  EXPECT_EQ(log.errors, 1);
  EXPECT_TRUE(parser.raised());
  const std::string more = "<d/>";
  EXPECT_FALSE(parser.Parse(more.data(), more.size(), false));
  EXPECT_EQ(log.errors, 1);  // reported once
  EXPECT_EQ(log.events, "<at");

  parser.Reset();
  log.events.clear();
  EXPECT_FALSE(parser.raised());
  EXPECT_EQ(parser.error().code, 0);
  const std::string good = "<x xmlns:p='u'><p:y/>t</x>";
  EXPECT_TRUE(parser.Parse(good.data(), good.size(), true));
  EXPECT_EQ(log.events, "<x<p:y/p:yt/x");
}

TEST(XmlParseTest, ResetClearsTheNamespacesOfTheOldDocument) {
  TreeBuilder builder;
  XmlStreamParser parser(&builder);
  const std::string first = "<a xmlns:p='u'>";
  EXPECT_TRUE(parser.Parse(first.data(), first.size(), false));
  parser.Reset();
  builder.Clear();
  const std::string second = "<p:a/>";
  EXPECT_FALSE(parser.Parse(second.data(), second.size(), true));
  EXPECT_EQ(parser.error().kind, XmlErrorKind::kBadNamespacePrefix);
}

TEST(XmlParseTest, EncodingIsJudgedOnTheFirstTwoBytesHoweverTheyArrive) {
  struct Case {
    std::string bytes;
    XmlErrorKind kind;
  } cases[] = {
      {std::string("<\0a\0/\0>\0", 8), XmlErrorKind::kUnsupportedEncoding},
      {std::string("\x04\0", 2), XmlErrorKind::kUnsupportedEncoding},
      {"\xFE\xFF", XmlErrorKind::kUnsupportedEncoding},
      {"\x04<a/>", XmlErrorKind::kNotWellFormed},
      {"<a/>", XmlErrorKind::kNone},
  };
  for (const Case& c : cases) {
    for (size_t split = 0; split <= c.bytes.size(); ++split) {
      TreeBuilder builder;
      XmlStreamParser parser(&builder);
      parser.Parse(c.bytes.data(), split, false) &&
          parser.Parse(c.bytes.data() + split, c.bytes.size() - split, false) &&
          parser.Parse(nullptr, 0, true);
      EXPECT_EQ(parser.error().kind, c.kind) << "split at " << split;
    }
  }
}

}  // namespace
}  // namespace vexalo
