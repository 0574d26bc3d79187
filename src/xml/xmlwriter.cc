#include "xml/xmlwriter.h"

#include <optional>
#include <utility>
#include <vector>

#include "xml/namespacescope.h"
#include "xml/xmlconstants.h"

namespace vexalo {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence starting at `s[0]` (a byte >= 0x80) that is also an XML
// character, or 0.
size_t ValidXmlUtf8Length(std::string_view s) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  auto continuation = [&](size_t i) { return i < s.size() && (byte(i) & 0xC0) == 0x80; };
  unsigned char lead = byte(0);
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;                      // overlong
    if (lead == 0xED && byte(1) > 0x9F) return 0;                      // surrogate
    if (lead == 0xEF && byte(1) == 0xBF && byte(2) >= 0xBE) return 0;  // U+FFFE, U+FFFF
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (lead == 0xF0 && byte(1) < 0x90) return 0;  // overlong
    if (lead == 0xF4 && byte(1) > 0x8F) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

void AppendEscaped(std::string& out, std::string_view s, bool attribute) {
  size_t plain = 0;  // start of the run of bytes copied unchanged
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    bool special =
        c < 0x20 || c == '&' || c == '<' || c == '>' || (attribute && c == '"') || c >= 0x80;
    // Tab and line feed survive text as they are; in attributes parsers turn them into spaces.
    if ((c == '\t' || c == '\n') && !attribute) special = false;
    if (!special) {
      ++i;
      continue;
    }
    size_t length = 1;
    if (c >= 0x80) {
      length = ValidXmlUtf8Length(s.substr(i));
      if (length != 0) {
        i += length;
        continue;
      }
      length = 1;
    }
    out.append(s.substr(plain, i - plain));
    switch (c) {
      case '&':
        out.append("&amp;");
        break;
      case '<':
        out.append("&lt;");
        break;
      case '>':
        out.append("&gt;");
        break;
      case '"':
        out.append("&quot;");
        break;
      // Written as references so that parsing gives them back unchanged rather than
      // normalised to a line feed or a space.
      case '\t':
        out.append("&#9;");
        break;
      case '\n':
        out.append("&#10;");
        break;
      case '\r':
        out.append("&#13;");
        break;
      default:
        // Control characters cannot appear in XML 1.0 at all; invalid UTF-8 would make the
        // peer drop the whole stream.
        if (c >= 0x80) out.append(kReplacementCharacter);
        break;
    }
    i += length;
    plain = i;
  }
  out.append(s.substr(plain));
}

class Printer {
 public:
  Printer(std::string& out, std::span<const std::string_view> predeclared) : out_(out) {
    scope_.PushFrame();
    for (size_t i = 0; i + 1 < predeclared.size(); i += 2) {
      scope_.AddDeclaration(predeclared[i], predeclared[i + 1]);
    }
  }

  void PrintElement(const XmlElem& element) {
    scope_.PushFrame();
    for (const XmlAttribute* attr = element.FirstAttribute(); attr != nullptr;
         attr = attr->NextAttribute()) {
      if (attr->Name() == kQnXmlns) {
        scope_.AddDeclaration("", attr->Value());
      } else if (attr->Name().NamespaceUri() == kNsXmlns) {
        scope_.AddDeclaration(attr->Name().LocalName(), attr->Value());
      }
    }
    new_declarations_.clear();
    if (std::optional<std::string> prefix = scope_.AddNewPrefix(element.Name(), false)) {
      new_declarations_.emplace_back(std::move(*prefix), element.Name().NamespaceUri());
    }
    for (const XmlAttribute* attr = element.FirstAttribute(); attr != nullptr;
         attr = attr->NextAttribute()) {
      if (std::optional<std::string> prefix = scope_.AddNewPrefix(attr->Name(), true)) {
        new_declarations_.emplace_back(std::move(*prefix), attr->Name().NamespaceUri());
      }
    }

    out_.push_back('<');
    scope_.AppendFormattedName(out_, element.Name(), false);
    for (const XmlAttribute* attr = element.FirstAttribute(); attr != nullptr;
         attr = attr->NextAttribute()) {
      out_.push_back(' ');
      scope_.AppendFormattedName(out_, attr->Name(), true);
      out_.append("=\"");
      AppendEscaped(out_, attr->Value(), true);
      out_.push_back('"');
    }
    for (const auto& [prefix, uri] : new_declarations_) {
      if (prefix.empty()) {
        out_.append(" xmlns=\"");
      } else {
        out_.append(" xmlns:");
        out_.append(prefix);
        out_.append("=\"");
      }
      // Escaped like any attribute value: a URI that came off the network may hold quotes.
      AppendEscaped(out_, uri, true);
      out_.push_back('"');
    }

    if (element.FirstNode() == nullptr) {
      out_.append("/>");
    } else {
      out_.push_back('>');
      for (const XmlNode* node = element.FirstNode(); node != nullptr; node = node->NextNode()) {
        if (const XmlTextNode* text = node->ToText()) {
          AppendEscaped(out_, text->Text(), false);
        } else {
          PrintElement(*node->ToElement());
        }
      }
      out_.append("</");
      scope_.AppendFormattedName(out_, element.Name(), false);
      out_.push_back('>');
    }
    scope_.PopFrame();
  }

 private:
  std::string& out_;
  NamespaceScope scope_;
  // Declarations to write on the element being opened; reused across elements.
  std::vector<std::pair<std::string, std::string>> new_declarations_;
};

}  // namespace

void XmlWriter::Print(std::string& out, const XmlElem& element,
                      std::span<const std::string_view> predeclared) {
  Printer printer(out, predeclared);
  printer.PrintElement(element);
}

std::string XmlWriter::ToString(const XmlElem& element,
                                std::span<const std::string_view> predeclared) {
  std::string out;
  Print(out, element, predeclared);
  return out;
}

void XmlWriter::AppendEscapedText(std::string& out, std::string_view text) {
  AppendEscaped(out, text, false);
}

void XmlWriter::AppendEscapedAttribute(std::string& out, std::string_view value) {
  AppendEscaped(out, value, true);
}

}  // namespace vexalo
