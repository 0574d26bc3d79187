#include "xml/xmlerror.h"

namespace vexalo {

const char* XmlErrorKindName(XmlErrorKind kind) {
  switch (kind) {
    case XmlErrorKind::kNone:
      return "none";
    case XmlErrorKind::kNotWellFormed:
      return "not well-formed";
    case XmlErrorKind::kBadNamespacePrefix:
      return "bad namespace prefix";
    case XmlErrorKind::kUnsupportedEncoding:
      return "unsupported encoding";
    case XmlErrorKind::kRestrictedXml:
      return "restricted XML";
    case XmlErrorKind::kStanzaTooLarge:
      return "stanza too large";
    case XmlErrorKind::kNestingTooDeep:
      return "nesting too deep";
    case XmlErrorKind::kTooManyNamespaces:
      return "too many namespace declarations";
    case XmlErrorKind::kOutOfMemory:
      return "out of memory";
  }
  return "unknown";
}

}  // namespace vexalo
