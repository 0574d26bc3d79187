#include "xml/xmlwriter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "xml/namespacescope.h"
#include "xml/xmlconstants.h"
#include "xml/xmlelem.h"

namespace vexalo {
namespace {

constexpr std::string_view kRoster = "jabber:iq:roster";

// Parse, print, compare bytes: one table per element kind.
struct RoundTrip {
  const char* name;
  const char* input;
  const char* printed;  // null: printed exactly as the input
};

void CheckRoundTrips(const RoundTrip* begin, const RoundTrip* end) {
  for (const RoundTrip* c = begin; c != end; ++c) {
    std::unique_ptr<XmlElem> elem = XmlElem::ParseFromString(c->input);
    ASSERT_NE(elem, nullptr) << c->name;
    const std::string expected = c->printed != nullptr ? c->printed : c->input;
    const std::string printed = XmlWriter::ToString(*elem);
    EXPECT_EQ(printed, expected) << c->name;
    // What we print parses to the same tree.
    std::unique_ptr<XmlElem> again = XmlElem::ParseFromString(printed);
    ASSERT_NE(again, nullptr) << c->name;
    EXPECT_EQ(XmlWriter::ToString(*again), expected) << c->name;
  }
}

TEST(XmlRoundTripTest, NamespacesAndPrefixes) {
  const RoundTrip cases[] = {
      {"no namespace", "<a/>", nullptr},
      {"default declared on the root only", "<a xmlns='u'><b/></a>", "<a xmlns=\"u\"><b/></a>"},
      {"prefix declared and reused", "<p:a xmlns:p=\"u\"><p:b/></p:a>", nullptr},
      {"default undeclared below", "<a xmlns=\"u\"><b xmlns=\"\"/></a>", nullptr},
      {"prefix shadowed below", "<p:a xmlns:p=\"u\"><p:b xmlns:p=\"v\"><p:c/></p:b><p:d/></p:a>",
       nullptr},
      {"prefixed attribute", "<a xmlns=\"u\" xmlns:q=\"v\"><q:b q:at=\"1\" at=\"2\"/></a>",
       nullptr},
      {"xml:lang needs no declaration", "<a xml:lang=\"en\"/>", nullptr},
      {"stream header shape",
       "<stream:stream xmlns=\"jabber:client\" xmlns:stream=\"http://etherx.jabber.org/streams\" "
       "to=\"d\" version=\"1.0\"><message/></stream:stream>",
       nullptr},
  };
  CheckRoundTrips(std::begin(cases), std::end(cases));
}

TEST(XmlRoundTripTest, AttributesWithEscaping) {
  const RoundTrip cases[] = {
      {"all four escapes, apostrophe raw", "<a x=\"&amp;&lt;&gt;&quot;'\"/>", nullptr},
      {"single quotes become double", "<a x='say \"hi\"'/>", "<a x=\"say &quot;hi&quot;\"/>"},
      {"character references resolved", "<a x=\"&#65;&#x42;\"/>", "<a x=\"AB\"/>"},
      {"order kept", "<a z=\"1\" y=\"2\" x=\"3\"/>", nullptr},
      {"empty value", "<a x=\"\"/>", nullptr},
      {"UTF-8 unchanged", "<a x=\"h\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"/>", nullptr},
      {"tab, LF and CR kept as references", "<a x=\"1&#10;2&#9;3&#13;\"/>", nullptr},
      {"raw line break normalised by the parser", "<a x='1\n2'/>", "<a x=\"1 2\"/>"},
  };
  CheckRoundTrips(std::begin(cases), std::end(cases));
}

TEST(XmlRoundTripTest, TextWithEscaping) {
  const RoundTrip cases[] = {
      {"three escapes, quotes raw", "<a>a&lt;b&amp;c&gt;d'\"</a>", nullptr},
      {"CDATA becomes escaped text", "<a><![CDATA[<x>&]]></a>", "<a>&lt;x&gt;&amp;</a>"},
      {"character references", "<a>&#65;&#x263A;</a>", "<a>A\xE2\x98\xBA</a>"},
      {"whitespace kept", "<a> <b/>\t\n</a>", nullptr},
      {"CR LF normalised", "<a>x\r\ny</a>", "<a>x\ny</a>"},
      {"CR kept as a reference", "<a>x&#13;y\tz</a>", nullptr},
      {"comment dropped, text merged", "<a>x<!-- c -->y</a>", "<a>xy</a>"},
      {"UTF-8 unchanged", "<a>h\xC3\xA9llo \xF0\x9F\x98\x80</a>", nullptr},
  };
  CheckRoundTrips(std::begin(cases), std::end(cases));
}

TEST(XmlRoundTripTest, NestedAndEmptyElements) {
  const RoundTrip cases[] = {
      {"empty pair becomes empty tag", "<a></a>", "<a/>"},
      {"nested empty", "<a><b><c/></b></a>", nullptr},
      {"mixed content",
       "<message to=\"u@d/r\" type=\"chat\" id=\"7\"><body>hi <b>there</b>!</body>"
       "<active xmlns=\"http://jabber.org/protocol/chatstates\"/></message>",
       nullptr},
      {"roster result",
       "<iq type=\"result\" id=\"r1\"><query xmlns=\"jabber:iq:roster\"><item jid=\"a@d\" "
       "subscription=\"both\" name=\"A\"><group>Friends</group></item><item jid=\"b@d\" "
       "subscription=\"to\"/></query></iq>",
       nullptr},
  };
  CheckRoundTrips(std::begin(cases), std::end(cases));
}

TEST(XmlWriterTest, PrefixesAreDeclaredWhereNeededAndReused) {
  const XmlName query(kRoster, "query");
  const XmlName item(kRoster, "item");

  XmlElem undeclared(query);
  undeclared.AppendChild(std::make_unique<XmlElem>(item));
  EXPECT_EQ(XmlWriter::ToString(undeclared),
            "<ros:query xmlns:ros=\"jabber:iq:roster\"><ros:item/></ros:query>");

  XmlElem declared(query, true);
  declared.AppendChild(std::make_unique<XmlElem>(item));
  EXPECT_EQ(XmlWriter::ToString(declared), "<query xmlns=\"jabber:iq:roster\"><item/></query>");

  // The first sibling's declaration goes out of scope with it, so the second needs (and
  // gets) the same prefix again.
  XmlElem parent(XmlName("", "a"));
  parent.AppendChild(std::make_unique<XmlElem>(query));
  parent.AppendChild(std::make_unique<XmlElem>(item));
  EXPECT_EQ(XmlWriter::ToString(parent),
            "<a><ros:query xmlns:ros=\"jabber:iq:roster\"/>"
            "<ros:item xmlns:ros=\"jabber:iq:roster\"/></a>");
}

TEST(XmlWriterTest, AttributesNeverUseTheDefaultNamespace) {
  XmlElem elem(XmlName("u", "a"), true);
  elem.SetAttribute(XmlName("u", "at"), "v");
  elem.SetAttribute(XmlName("", "plain"), "w");
  EXPECT_EQ(XmlWriter::ToString(elem), "<a xmlns=\"u\" u:at=\"v\" plain=\"w\" xmlns:u=\"u\"/>");
}

TEST(XmlWriterTest, GuessedPrefixAlreadyBoundGetsANumber) {
  XmlElem elem(XmlName("other:ros", "a"));
  elem.SetAttribute(XmlName(kNsXmlns, "ros"), "other:ros");
  auto* child = elem.AppendChild(std::make_unique<XmlElem>(XmlName(kRoster, "query")));
  child->AppendChild(std::make_unique<XmlElem>(XmlName("urn:x:roster", "item")));
  EXPECT_EQ(XmlWriter::ToString(elem),
            "<ros:a xmlns:ros=\"other:ros\"><ros2:query xmlns:ros2=\"jabber:iq:roster\">"
            "<ros3:item xmlns:ros3=\"urn:x:roster\"/></ros2:query></ros:a>");
}

TEST(XmlWriterTest, PredeclaredPairsAreUsedButNotWritten) {
  const std::string_view predeclared[] = {"stream", "http://etherx.jabber.org/streams", "",
                                          "jabber:client"};
  XmlElem message(XmlName("jabber:client", "message"));
  message.SetAttribute(XmlName("", "to"), "u@d");
  message.AppendChild(std::make_unique<XmlElem>(XmlName("jabber:client", "body")))
      ->AppendText("hi");
  message.AppendChild(
      std::make_unique<XmlElem>(XmlName("http://jabber.org/protocol/chatstates", "active")));
  EXPECT_EQ(XmlWriter::ToString(message, predeclared),
            "<message to=\"u@d\"><body>hi</body>"
            "<cha:active xmlns:cha=\"http://jabber.org/protocol/chatstates\"/></message>");
  XmlElem error(XmlName("http://etherx.jabber.org/streams", "error"));
  EXPECT_EQ(XmlWriter::ToString(error, predeclared), "<stream:error/>");
}

TEST(XmlWriterTest, ElementWithoutNamespaceUnderADefaultOneUndeclaresIt) {
  // A prefix cannot be bound to the empty namespace; only xmlns="" expresses this.
  XmlElem parent(XmlName("u", "a"), true);
  parent.AppendChild(std::make_unique<XmlElem>(XmlName("", "b")))
      ->AppendChild(std::make_unique<XmlElem>(XmlName("", "c")));
  const std::string printed = XmlWriter::ToString(parent);
  EXPECT_EQ(printed, "<a xmlns=\"u\"><b xmlns=\"\"><c/></b></a>");
  std::unique_ptr<XmlElem> parsed = XmlElem::ParseFromString(printed);
  ASSERT_NE(parsed, nullptr);
  EXPECT_EQ(parsed->FirstChildElement()->Name(), XmlName("", "b"));
  EXPECT_EQ(parsed->FirstChildElement()->FirstChildElement()->Name(), XmlName("", "c"));
}

TEST(XmlWriterTest, OutputStaysWellFormedWhateverTheTreeHolds) {
  struct Case {
    const char* name;
    std::string text;
    std::string printed_text;  // as it must appear in the output
  } cases[] = {
      {"control characters dropped",
       std::string("a\x01\x08\x0B\x1F"
                   "b",
                   6),
       "ab"},
      {"NUL dropped", std::string("a\0b", 3), "ab"},
      {"truncated sequence", "a\xC3", "a\xEF\xBF\xBD"},
      {"lone continuation byte", "\x80z", "\xEF\xBF\xBDz"},
      {"overlong form", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate", "\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"U+FFFE is not an XML character", "\xEF\xBF\xBE", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"valid four-byte sequence kept", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    XmlElem elem(XmlName("", "a"));
    elem.SetAttribute(XmlName("", "v"), c.text);
    elem.AppendText(c.text);
    const std::string printed = XmlWriter::ToString(elem);
    EXPECT_EQ(printed, "<a v=\"" + c.printed_text + "\">" + c.printed_text + "</a>") << c.name;
    EXPECT_NE(XmlElem::ParseFromString(printed), nullptr) << c.name;
  }
}

TEST(XmlWriterTest, NewDeclarationsEscapeTheirUri) {
  // A namespace that came off the network may hold any character.
  std::unique_ptr<XmlElem> stanza =
      XmlElem::ParseFromString("<a><p:b xmlns:p='x&quot;&lt;&amp;'/></a>");
  ASSERT_NE(stanza, nullptr);
  XmlElem moved(stanza->FirstChildElement()->Name());
  const std::string printed = XmlWriter::ToString(moved);
  EXPECT_EQ(printed, "<x:b xmlns:x=\"x&quot;&lt;&amp;\"/>");
  std::unique_ptr<XmlElem> parsed = XmlElem::ParseFromString(printed);
  ASSERT_NE(parsed, nullptr);
  EXPECT_EQ(parsed->Name().NamespaceUri(), "x\"<&");
}

TEST(NamespaceScopeTest, PrefixGuessTakesAShortWordFromTheEnd) {
  struct Case {
    const char* uri;
    const char* prefix;
  } cases[] = {
      {"jabber:iq:roster", "ros"},
      {"urn:ietf:params:xml:ns:xmpp-tls", "tls"},
      {"http://jabber.org/protocol/disco#info", "info"},
      {"vcard-temp:x:update", "upd"},
      {"http://example.com", "exa"},  // short suffix after the last dot cut
      {"http://example.com/schema.xsd", "sch"},
      {"urn:x:Version2", "ver"},  // letters before trailing digits, lower-cased
      {"urn:x:XMLstuff", "ns"},   // a guess beginning with xml is reserved
      {"1234", "ns"},
      {"", "ns"},
      {"urn:a:B", "b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NamespaceScope::GuessPrefix(c.uri), c.prefix) << c.uri;
  }
}

TEST(NamespaceScopeTest, ReservedPrefixesResolveOnlyToTheirFixedNamespaces) {
  NamespaceScope scope;
  scope.PushFrame();
  scope.AddDeclaration("xmlfoo", "u");
  scope.AddDeclaration("xml", "u");
  EXPECT_EQ(scope.UriForPrefix("xml"), kNsXml);
  EXPECT_EQ(scope.UriForPrefix("xmlns"), kNsXmlns);
  EXPECT_FALSE(scope.UriForPrefix("xmlfoo"));
  EXPECT_FALSE(scope.UriForPrefix("XML"));
  EXPECT_FALSE(scope.UriForPrefix("XmLns"));
  EXPECT_EQ(scope.UriForPrefix(""), "");
  EXPECT_FALSE(scope.UriForPrefix("p"));
  scope.AddDeclaration("xm", "w");  // two letters: an ordinary prefix
  EXPECT_EQ(scope.UriForPrefix("xm"), "w");
}

TEST(NamespaceScopeTest, ShadowedPrefixIsNotOfferedForItsOldNamespace) {
  NamespaceScope scope;
  scope.PushFrame();
  scope.AddDeclaration("p", "u");
  scope.PushFrame();
  scope.AddDeclaration("p", "v");
  EXPECT_FALSE(scope.PrefixForUri("u", true));
  EXPECT_EQ(scope.PrefixForUri("v", true), "p");
  scope.PopFrame();
  EXPECT_EQ(scope.PrefixForUri("u", true), "p");
  EXPECT_FALSE(scope.PrefixForUri("v", true));
  EXPECT_EQ(scope.FormatName(XmlName("u", "x"), true), "p:x");
  EXPECT_EQ(scope.FormatName(XmlName("v", "x"), true), "x");  // no prefix in force
}

}  // namespace
}  // namespace vexalo
