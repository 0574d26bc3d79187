#pragma once

#include <span>
#include <string>
#include <string_view>

#include "xml/xmlelem.h"

namespace vexalo {

// Prints element trees as XML text, without indentation. Namespace prefixes are chosen while
// printing: declarations present as attributes are used, and a namespace with no prefix in
// force gets one declared on the element that needs it. Output is always well-formed, and
// parses back to the same tree: bytes that XML cannot carry are dropped (control characters)
// or replaced by U+FFFD (invalid UTF-8); carriage returns, and tabs and line feeds in
// attribute values, are written as character references so that parsers do not normalise
// them.
class XmlWriter {
 public:
  // Appends `element` to `out`. `predeclared` holds (prefix, URI) pairs that the surrounding
  // text has declared already (the stream header); they are used but not written.
  static void Print(std::string& out, const XmlElem& element,
                    std::span<const std::string_view> predeclared = {});
  static std::string ToString(const XmlElem& element,
                              std::span<const std::string_view> predeclared = {});

  static void AppendEscapedText(std::string& out, std::string_view text);
  static void AppendEscapedAttribute(std::string& out, std::string_view value);
};

}  // namespace vexalo
