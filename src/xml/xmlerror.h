#pragma once

namespace vexalo {

// Why parsing stopped, in terms the stream engine can turn into a stream error condition.
enum class XmlErrorKind {
  kNone,
  kNotWellFormed,        // a syntax error, a bad XML declaration, a duplicate attribute
  kBadNamespacePrefix,   // an undeclared or reserved prefix, an empty prefix declaration
  kUnsupportedEncoding,  // declared in an encoding other than UTF-8
  kRestrictedXml,        // DOCTYPE, entity declaration, processing instruction
  kStanzaTooLarge,       // more than the splitter's limit in one stanza
  kNestingTooDeep,       // more than kMaxXmlDepth open elements
  kTooManyNamespaces,    // more than kMaxNamespaceDeclarations in force
  kOutOfMemory,          // expat could not allocate
};

const char* XmlErrorKindName(XmlErrorKind kind);

// The error numbers are expat's XML_Error values; the ones raised by our own checks are:
inline constexpr int kXmlErrorSyntax = 2;     // XML_ERROR_SYNTAX
inline constexpr int kXmlErrorEncoding = 19;  // XML_ERROR_INCORRECT_ENCODING

struct XmlError {
  int code = 0;  // 0 while there is no error
  XmlErrorKind kind = XmlErrorKind::kNone;
};

}  // namespace vexalo
