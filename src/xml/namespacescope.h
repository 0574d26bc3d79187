#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xml/xmlname.h"

namespace vexalo {

// The namespace declarations in force, one frame per open element; used by the parser to
// resolve prefixes and by the printer to choose them. The empty prefix is the default
// namespace. Views returned stay valid until the next AddDeclaration or PopFrame.
class NamespaceScope {
 public:
  void PushFrame();
  void PopFrame();
  void AddDeclaration(std::string_view prefix, std::string_view uri);
  void Clear();
  size_t DeclarationCount() const { return count_; }
  size_t FrameCount() const { return frames_.size(); }

  // Nothing when the prefix is not declared; the empty prefix always resolves (to the empty
  // URI when no default namespace is declared). "xml" and "xmlns" are fixed; other prefixes
  // beginning with x, m, l in any case are reserved and never resolve.
  std::optional<std::string_view> UriForPrefix(std::string_view prefix) const;
  // A prefix in force that maps to `uri`; attributes never use the default namespace.
  std::optional<std::string_view> PrefixForUri(std::string_view uri, bool is_attribute) const;
  // Declares a prefix for the name's namespace when none is in force. Returns the declared
  // prefix, or nothing when no declaration was needed.
  std::optional<std::string> AddNewPrefix(const XmlName& name, bool is_attribute);
  // prefix:local, or just local when the namespace needs no prefix (or has none in force).
  std::string FormatName(const XmlName& name, bool is_attribute) const;
  void AppendFormattedName(std::string& out, const XmlName& name, bool is_attribute) const;

  // The prefix the printer tries first for a namespace: a short word taken from its end
  // (jabber:iq:roster gives "ros").
  static std::string GuessPrefix(std::string_view uri);

 private:
  struct Declaration {
    std::string prefix;
    std::string uri;
  };
  // Entries past count_ are spare: their strings keep their storage for reuse, so steady
  // parsing does not allocate for declarations.
  std::vector<Declaration> declarations_;
  size_t count_ = 0;
  std::vector<uint32_t> frames_;
};

}  // namespace vexalo
