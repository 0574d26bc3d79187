// One suite, two implementations: our parser (own namespace handling over plain expat) and a
// thin reference on expat's own namespace processing. A case that fails on one side only
// says which side is wrong.
#include <expat.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "xml/xmlconstants.h"
#include "xml/xmlelem.h"

namespace vexalo {
namespace {

// The tree as one line: {ns}local, attributes other than declarations in document order as
// " {ns}name=value", then children in parentheses, text in quotes.
class OurParser {
 public:
  static std::optional<std::string> Canonical(std::string_view xml) {
    std::unique_ptr<XmlElem> root = XmlElem::ParseFromString(xml);
    if (root == nullptr) return std::nullopt;
    std::string out;
    Append(out, *root);
    return out;
  }

 private:
  static void Append(std::string& out, const XmlElem& elem) {
    out += "{" + elem.Name().NamespaceUri() + "}" + elem.Name().LocalName();
    for (const XmlAttribute* attr = elem.FirstAttribute(); attr; attr = attr->NextAttribute()) {
      if (attr->Name() == kQnXmlns || attr->Name().NamespaceUri() == kNsXmlns) continue;
      out +=
          " {" + attr->Name().NamespaceUri() + "}" + attr->Name().LocalName() + "=" + attr->Value();
    }
    if (elem.FirstNode() == nullptr) return;
    out += "(";
    for (const XmlNode* node = elem.FirstNode(); node; node = node->NextNode()) {
      if (node->IsTextNode()) {
        out += "\"" + node->ToText()->Text() + "\"";
      } else {
        Append(out, *node->ToElement());
      }
    }
    out += ")";
  }
};

class ExpatNamespaceReference {
 public:
  static std::optional<std::string> Canonical(std::string_view xml) {
    State state;
    XML_Parser parser = XML_ParserCreateNS("UTF-8", '\x01');
    XML_SetUserData(parser, &state);
    XML_SetElementHandler(parser, &Start, &End);
    XML_SetCharacterDataHandler(parser, &Text);
    bool ok = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!ok) return std::nullopt;
    return state.out;
  }

 private:
  struct State {
    std::string out;
    std::string text;
    bool open_has_children = false;  // the innermost open element has printed "("
    std::string closers;             // per open element: ')' if it has children, else '-'
  };

  static std::string Name(const char* name) {
    std::string_view n(name);
    size_t sep = n.find('\x01');
    if (sep == std::string_view::npos) return "{}" + std::string(n);
    return "{" + std::string(n.substr(0, sep)) + "}" + std::string(n.substr(sep + 1));
  }

  static void OpenChild(State& s) {
    if (!s.closers.empty() && s.closers.back() == '-') {
      s.out += "(";
      s.closers.back() = ')';
    }
  }

  static void FlushText(State& s) {
    if (s.text.empty()) return;
    OpenChild(s);
    s.out += "\"" + s.text + "\"";
    s.text.clear();
  }

  static void Start(void* data, const char* name, const char** attributes) {
    State& s = *static_cast<State*>(data);
    FlushText(s);
    OpenChild(s);
    s.out += Name(name);
    for (const char** attr = attributes; *attr; attr += 2) {
      s.out += " " + Name(attr[0]) + "=" + attr[1];
    }
    s.closers.push_back('-');
  }

  static void End(void* data, const char*) {
    State& s = *static_cast<State*>(data);
    FlushText(s);
    if (s.closers.back() == ')') s.out += ")";
    s.closers.pop_back();
  }

  static void Text(void* data, const char* bytes, int length) {
    static_cast<State*>(data)->text.append(bytes, static_cast<size_t>(length));
  }
};

template <typename Parser>
class ParserConformanceTest : public testing::Test {};

using Parsers = testing::Types<OurParser, ExpatNamespaceReference>;
TYPED_TEST_SUITE(ParserConformanceTest, Parsers);

TYPED_TEST(ParserConformanceTest, NamespaceResolution) {
  struct Case {
    const char* xml;
    const char* canonical;
  } cases[] = {
      {"<a/>", "{}a"},
      {"<a xmlns='u'><b/></a>", "{u}a({u}b)"},
      {"<p:a xmlns:p='u' p:x='1' y='2'/>", "{u}a {u}x=1 {}y=2"},
      {"<a xmlns='u' x='1'/>", "{u}a {}x=1"},
      {"<a xmlns='u'><b xmlns=''><c/></b><d/></a>", "{u}a({}b({}c){u}d)"},
      {"<p:a xmlns:p='u'><p:b xmlns:p='v'><p:c/></p:b><p:d/></p:a>", "{u}a({v}b({v}c){u}d)"},
      {"<a xml:lang='en'/>", "{}a {http://www.w3.org/XML/1998/namespace}lang=en"},
      {"<a xmlns='u' xmlns:p='u' p:x='1' x='2'/>", "{u}a {u}x=1 {}x=2"},
      {"<a>x&amp;y<![CDATA[<z>]]><b/>t</a>", "{}a(\"x&y<z>\"{}b\"t\")"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TypeParam::Canonical(c.xml), std::optional<std::string>(c.canonical)) << c.xml;
  }
}

TYPED_TEST(ParserConformanceTest, NamespaceAndSyntaxErrors) {
  const char* cases[] = {
      "<p:a/>",
      "<a p:x='1'/>",
      "<a><b xmlns:p='u'/><p:c/></a>",
      "<a xmlns:p='u' xmlns:q='u' p:x='1' q:x='2'/>",
      "<a xmlns:p=''/>",
      "<a x='1' x='2'/>",
      "<a></b>",
      "<a/><b/>",
      "<a>",
      "<a>\xC3\x28</a>",
  };
  for (const char* xml : cases) {
    EXPECT_EQ(TypeParam::Canonical(xml), std::nullopt) << xml;
  }
}

}  // namespace
}  // namespace vexalo
