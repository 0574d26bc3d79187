#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/namespacescope.h"
#include "xml/xmlerror.h"
#include "xml/xmlname.h"

struct XML_ParserStruct;

namespace vexalo {

class XmlStreamParser;

// Limits on what the network may make us hold. Real stanzas are a few levels deep and carry a
// handful of declarations; the limits only stop hostile input.
inline constexpr int kMaxXmlDepth = 64;
inline constexpr size_t kMaxNamespaceDeclarations = 128;

// What the parse callbacks share: the parser, its namespace scope and the first error.
class ParseContext {
 public:
  explicit ParseContext(XmlStreamParser* parser) : parser_(parser) {}

  // Resolves a raw name against the declarations in force. kQnEmpty when the prefix is not
  // declared or the name is not a valid qualified name (the caller treats that as an error).
  // Unprefixed attributes are in no namespace.
  XmlName ResolveName(std::string_view raw_name, bool is_attribute) const;
  // Records the first error and stops the parser at once.
  void RaiseError(XmlErrorKind kind, int code = kXmlErrorSyntax);

  const XmlError& error() const { return error_; }
  bool failed() const { return error_.code != 0; }
  NamespaceScope& scope() { return scope_; }
  XmlStreamParser& parser() { return *parser_; }

 private:
  friend class XmlStreamParser;
  XmlStreamParser* parser_;
  NamespaceScope scope_;
  XmlError error_;
};

// The consumer of parse events. Names and attributes come as written, prefixes unresolved;
// attributes are a null-terminated array of name, value pairs.
class ParseHandler {
 public:
  virtual ~ParseHandler() = default;
  virtual void StartElement(ParseContext& context, const char* raw_name,
                            const char** raw_attributes) = 0;
  virtual void EndElement(ParseContext& context, const char* raw_name) = 0;
  virtual void CharacterData(ParseContext& context, const char* bytes, int length) = 0;
  virtual void Error(ParseContext& context, const XmlError& error) = 0;
};

// expat with our own namespace handling: declarations stay on the elements as ordinary
// attributes so that the printer can reproduce them. Input must be UTF-8. DOCTYPE, entity
// declarations and processing instructions end parsing; so does going past the depth and
// declaration limits. After an error nothing more reaches the handler until Reset.
class XmlStreamParser {
 public:
  explicit XmlStreamParser(ParseHandler* handler);
  XmlStreamParser(const XmlStreamParser&) = delete;
  XmlStreamParser& operator=(const XmlStreamParser&) = delete;
  ~XmlStreamParser();

  // False once an error has been raised, now or earlier (the handler has heard of it).
  bool Parse(const char* data, size_t length, bool is_final);
  // Starts a new document. Called from a callback, it takes effect when the current Parse
  // returns, and the rest of that input is dropped.
  void Reset();
  // Ends parsing with an error found outside expat (such as a size limit); reported to the
  // handler at once, or when the current Parse returns.
  void Fail(XmlErrorKind kind, int code = kXmlErrorSyntax);

  // Offset in the document of the event being handled; for use inside callbacks.
  int64_t CurrentByteIndex() const;
  // Incremented by every Reset, so a caller can tell that one happened during Parse.
  uint64_t generation() const { return generation_; }
  const XmlError& error() const { return context_.error(); }
  bool raised() const { return raised_; }

 private:
  static void OnStartElement(void* user_data, const char* name, const char** attributes);
  static void OnEndElement(void* user_data, const char* name);
  static void OnCharacterData(void* user_data, const char* bytes, int length);
  static void OnXmlDecl(void* user_data, const char* version, const char* encoding, int standalone);
  static void OnStartDoctype(void* user_data, const char* name, const char* system_id,
                             const char* public_id, int has_internal_subset);
  static void OnEntityDecl(void* user_data, const char* name, int is_parameter_entity,
                           const char* value, int value_length, const char* base,
                           const char* system_id, const char* public_id, const char* notation_name);
  static void OnProcessingInstruction(void* user_data, const char* target, const char* data);
  static int OnExternalEntityRef(XML_ParserStruct* parser, const char* context, const char* base,
                                 const char* system_id, const char* public_id);

  void Install();
  bool Feed(const char* data, size_t length, bool is_final);
  void DoReset();
  void StopExpat();
  bool Report();

  friend class ParseContext;

  ParseHandler* handler_;
  ParseContext context_;
  XML_ParserStruct* expat_ = nullptr;
  bool raised_ = false;
  bool in_parse_ = false;
  bool reset_pending_ = false;
  // The document's first two bytes, held until both are known.
  char start_[2] = {0, 0};
  size_t start_bytes_ = 0;
  bool start_fed_ = false;
  uint64_t generation_ = 0;
};

}  // namespace vexalo
