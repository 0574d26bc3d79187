#include "xml/xmlstreamparser.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "text/asciitext.h"

namespace vexalo {
namespace {

// Forcing UTF-8 refuses UTF-16 (and any other encoding expat would switch to) outright.
constexpr char kEncoding[] = "UTF-8";
// XML_Parse takes an int length.
constexpr size_t kMaxExpatPiece = size_t{1} << 30;

bool BeginsWithUtf8(const char* encoding) {
  return AsciiLower(encoding[0]) == 'u' && AsciiLower(encoding[1]) == 't' &&
         AsciiLower(encoding[2]) == 'f' && encoding[3] == '-' && encoding[4] == '8';
}

XmlErrorKind KindOfExpatError(XML_Error code) {
  switch (code) {
    case XML_ERROR_NO_MEMORY:
      return XmlErrorKind::kOutOfMemory;
    case XML_ERROR_UNKNOWN_ENCODING:
    case XML_ERROR_INCORRECT_ENCODING:
      return XmlErrorKind::kUnsupportedEncoding;
    case XML_ERROR_EXTERNAL_ENTITY_HANDLING:
    case XML_ERROR_MISPLACED_XML_PI:
      return XmlErrorKind::kRestrictedXml;
    default:
      return XmlErrorKind::kNotWellFormed;
  }
}

bool IsAsciiNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// Whether `text`, a run of XML name characters, is also a name on its own: a prefix or local
// part that starts with a digit, '-', '.' or a combining mark is not. Names printed from the tree
// must parse again, so such parts are refused when read. Non-ASCII starts are rare; expat's own
// tables decide them.
bool IsNameOnItsOwn(std::string_view text) {
  if (text.empty()) return false;
  if (static_cast<unsigned char>(text[0]) < 0x80) return IsAsciiNameStart(text[0]);
  XML_Parser probe = XML_ParserCreate(kEncoding);
  if (probe == nullptr) return false;
  std::string element;
  element.reserve(text.size() + 3);
  element.append("<").append(text).append("/>");
  bool ok =
      XML_Parse(probe, element.data(), static_cast<int>(element.size()), XML_TRUE) == XML_STATUS_OK;
  XML_ParserFree(probe);
  return ok;
}

// A declared prefix is an NCName: no colon, and a name on its own.
bool IsDeclarablePrefix(std::string_view prefix) {
  return prefix.find(':') == std::string_view::npos && IsNameOnItsOwn(prefix);
}

}  // namespace

XmlName ParseContext::ResolveName(std::string_view raw_name, bool is_attribute) const {
  std::optional<std::string_view> uri;
  std::string_view local = raw_name;
  size_t colon = raw_name.find(':');
  if (colon == std::string_view::npos) {
    // Attributes are never in the default namespace.
    uri = is_attribute ? std::optional<std::string_view>(std::string_view())
                       : scope_.UriForPrefix("");
  } else {
    std::string_view prefix = raw_name.substr(0, colon);
    local = raw_name.substr(colon + 1);
    // Plain XML allows any colons in a name; a qualified name has exactly one, inside.
    if (prefix.empty() || local.find(':') != std::string_view::npos || !IsNameOnItsOwn(local)) {
      return kQnEmpty;
    }
    uri = scope_.UriForPrefix(prefix);
  }
  if (!uri) return kQnEmpty;
  return XmlName(*uri, local);
}

void ParseContext::RaiseError(XmlErrorKind kind, int code) {
  if (failed()) return;
  error_.code = code;
  error_.kind = kind;
  parser_->StopExpat();
}

XmlStreamParser::XmlStreamParser(ParseHandler* handler) : handler_(handler), context_(this) {
  expat_ = XML_ParserCreate(kEncoding);
  if (expat_ == nullptr) throw std::bad_alloc();
  Install();
}

XmlStreamParser::~XmlStreamParser() { XML_ParserFree(expat_); }

void XmlStreamParser::Install() {
  XML_SetUserData(expat_, this);
  XML_SetElementHandler(expat_, &OnStartElement, &OnEndElement);
  XML_SetCharacterDataHandler(expat_, &OnCharacterData);
  XML_SetXmlDeclHandler(expat_, &OnXmlDecl);
  XML_SetStartDoctypeDeclHandler(expat_, &OnStartDoctype);
  XML_SetEntityDeclHandler(expat_, &OnEntityDecl);
  XML_SetProcessingInstructionHandler(expat_, &OnProcessingInstruction);
  XML_SetExternalEntityRefHandler(expat_, &OnExternalEntityRef);
  XML_SetParamEntityParsing(expat_, XML_PARAM_ENTITY_PARSING_NEVER);
#if XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 6)
  // A stanza must be delivered as soon as its end tag is in, not when more input follows.
  XML_SetReparseDeferralEnabled(expat_, XML_FALSE);
#endif
}

bool XmlStreamParser::Parse(const char* data, size_t length, bool is_final) {
  if (raised_) return false;
  const char* head = nullptr;
  size_t head_length = 0;
  if (!start_fed_) {
    // expat detects UTF-16 from the first two bytes (a byte order mark, or a NUL beside the
    // first character) even when told the encoding; none of these bytes can start UTF-8 XML.
    // The first byte waits for the second, so that how the input was split cannot change
    // which error is reported.
    while (start_bytes_ < 2 && length > 0) {
      start_[start_bytes_++] = *data++;
      --length;
    }
    unsigned char first = static_cast<unsigned char>(start_[0]);
    if ((start_bytes_ > 0 && (first == 0x00 || first == 0xFE || first == 0xFF)) ||
        (start_bytes_ > 1 && start_[1] == '\0')) {
      context_.error_ = XmlError{kXmlErrorEncoding, XmlErrorKind::kUnsupportedEncoding};
      return Report();
    }
    if (start_bytes_ < 2 && !is_final) return true;
    start_fed_ = true;
    head = start_;
    head_length = start_bytes_;
  }
  in_parse_ = true;
  bool fed = head_length == 0 || Feed(head, head_length, is_final && length == 0);
  if (fed && (length > 0 || head_length == 0)) Feed(data, length, is_final);
  in_parse_ = false;
  if (reset_pending_) {
    DoReset();
    return true;
  }
  return Report();
}

bool XmlStreamParser::Feed(const char* data, size_t length, bool is_final) {
  do {
    size_t piece = std::min(length, kMaxExpatPiece);
    bool last = piece == length;
    if (XML_Parse(expat_, data, static_cast<int>(piece), is_final && last) != XML_STATUS_OK) {
      // An error of our own stopped expat; expat's "aborted" is then not news.
      if (!reset_pending_ && !context_.failed()) {
        XML_Error code = XML_GetErrorCode(expat_);
        context_.error_.code = static_cast<int>(code);
        context_.error_.kind = KindOfExpatError(code);
      }
      return false;
    }
    data += piece;
    length -= piece;
  } while (length > 0);
  return true;
}

bool XmlStreamParser::Report() {
  if (!context_.failed()) return true;
  raised_ = true;
  XmlError error = context_.error_;
  // The handler may reset or destroy us from here: touch nothing afterwards.
  handler_->Error(context_, error);
  return false;
}

void XmlStreamParser::Reset() {
  if (in_parse_) {
    // Freeing or resetting expat under its own callback would pull the buffer from under it.
    reset_pending_ = true;
    XML_StopParser(expat_, XML_FALSE);
    return;
  }
  DoReset();
}

void XmlStreamParser::DoReset() {
  reset_pending_ = false;
  if (!XML_ParserReset(expat_, kEncoding)) {
    XML_ParserFree(expat_);
    expat_ = XML_ParserCreate(kEncoding);
    if (expat_ == nullptr) throw std::bad_alloc();
  }
  Install();
  context_.scope_.Clear();
  context_.error_ = XmlError();
  raised_ = false;
  start_bytes_ = 0;
  start_fed_ = false;
  ++generation_;
}

void XmlStreamParser::Fail(XmlErrorKind kind, int code) {
  if (raised_) return;
  context_.RaiseError(kind, code);
  if (!in_parse_) Report();
}

void XmlStreamParser::StopExpat() {
  if (in_parse_) XML_StopParser(expat_, XML_FALSE);
}

int64_t XmlStreamParser::CurrentByteIndex() const { return XML_GetCurrentByteIndex(expat_); }

void XmlStreamParser::OnStartElement(void* user_data, const char* name, const char** attributes) {
  auto* self = static_cast<XmlStreamParser*>(user_data);
  ParseContext& context = self->context_;
  if (context.failed()) return;
  NamespaceScope& scope = context.scope_;
  scope.PushFrame();
  if (scope.FrameCount() > static_cast<size_t>(kMaxXmlDepth)) {
    context.RaiseError(XmlErrorKind::kNestingTooDeep);
    return;
  }
  for (const char** attr = attributes; *attr != nullptr; attr += 2) {
    const char* attr_name = attr[0];
    if (std::strncmp(attr_name, "xmlns", 5) != 0) continue;
    if (attr_name[5] == '\0') {
      scope.AddDeclaration("", attr[1]);
    } else if (attr_name[5] == ':') {
      // Undeclaring a prefix is not allowed, nor is an empty one or one that is no NCName.
      if (!IsDeclarablePrefix(attr_name + 6) || attr[1][0] == '\0') {
        context.RaiseError(XmlErrorKind::kBadNamespacePrefix);
        return;
      }
      scope.AddDeclaration(attr_name + 6, attr[1]);
    }
  }
  if (scope.DeclarationCount() > kMaxNamespaceDeclarations) {
    context.RaiseError(XmlErrorKind::kTooManyNamespaces);
    return;
  }
  self->handler_->StartElement(context, name, attributes);
}

void XmlStreamParser::OnEndElement(void* user_data, const char* name) {
  auto* self = static_cast<XmlStreamParser*>(user_data);
  if (self->context_.failed()) return;
  self->context_.scope_.PopFrame();
  self->handler_->EndElement(self->context_, name);
}

void XmlStreamParser::OnCharacterData(void* user_data, const char* bytes, int length) {
  auto* self = static_cast<XmlStreamParser*>(user_data);
  if (self->context_.failed()) return;
  self->handler_->CharacterData(self->context_, bytes, length);
}

void XmlStreamParser::OnXmlDecl(void* user_data, const char* version, const char* encoding,
                                int standalone) {
  ParseContext& context = static_cast<XmlStreamParser*>(user_data)->context_;
  if (context.failed()) return;
  if (version != nullptr && std::strcmp(version, "1.0") != 0) {
    context.RaiseError(XmlErrorKind::kNotWellFormed);
  } else if (standalone == 0) {
    context.RaiseError(XmlErrorKind::kNotWellFormed);
  } else if (encoding != nullptr && !BeginsWithUtf8(encoding)) {
    context.RaiseError(XmlErrorKind::kUnsupportedEncoding, kXmlErrorEncoding);
  }
}

// No DTD of any kind: it is where entity expansion attacks and external fetches live.
void XmlStreamParser::OnStartDoctype(void* user_data, const char*, const char*, const char*, int) {
  static_cast<XmlStreamParser*>(user_data)->context_.RaiseError(XmlErrorKind::kRestrictedXml);
}

void XmlStreamParser::OnEntityDecl(void* user_data, const char*, int, const char*, int, const char*,
                                   const char*, const char*, const char*) {
  static_cast<XmlStreamParser*>(user_data)->context_.RaiseError(XmlErrorKind::kRestrictedXml);
}

void XmlStreamParser::OnProcessingInstruction(void* user_data, const char*, const char*) {
  static_cast<XmlStreamParser*>(user_data)->context_.RaiseError(XmlErrorKind::kRestrictedXml);
}

int XmlStreamParser::OnExternalEntityRef(XML_ParserStruct* parser, const char*, const char*,
                                         const char*, const char*) {
  static_cast<XmlStreamParser*>(XML_GetUserData(parser))
      ->context_.RaiseError(XmlErrorKind::kRestrictedXml);
  return XML_STATUS_ERROR;
}

}  // namespace vexalo
