#include "xml/namespacescope.h"

#include "text/asciitext.h"
#include "xml/xmlconstants.h"

namespace vexalo {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

void NamespaceScope::PushFrame() { frames_.push_back(static_cast<uint32_t>(count_)); }

void NamespaceScope::PopFrame() {
  if (frames_.empty()) return;
  count_ = frames_.back();
  frames_.pop_back();
}

void NamespaceScope::AddDeclaration(std::string_view prefix, std::string_view uri) {
  if (count_ == declarations_.size()) declarations_.emplace_back();
  Declaration& slot = declarations_[count_++];
  slot.prefix.assign(prefix);
  slot.uri.assign(uri);
}

void NamespaceScope::Clear() {
  count_ = 0;
  frames_.clear();
}

std::optional<std::string_view> NamespaceScope::UriForPrefix(std::string_view prefix) const {
  if (prefix.size() > 2 && AsciiLower(prefix[0]) == 'x' && AsciiLower(prefix[1]) == 'm' &&
      AsciiLower(prefix[2]) == 'l') {
    if (prefix == "xml") return kNsXml;
    if (prefix == "xmlns") return kNsXmlns;
    return std::nullopt;
  }
  for (size_t i = count_; i-- > 0;) {
    if (declarations_[i].prefix == prefix) return std::string_view(declarations_[i].uri);
  }
  if (prefix.empty()) return std::string_view();
  return std::nullopt;
}

std::optional<std::string_view> NamespaceScope::PrefixForUri(std::string_view uri,
                                                             bool is_attribute) const {
  if (uri == kNsXml) return std::string_view("xml");
  if (uri == kNsXmlns) return std::string_view("xmlns");
  if (is_attribute) {
    if (uri.empty()) return std::string_view();
  } else if (UriForPrefix("") == uri) {
    return std::string_view();
  }
  for (size_t i = count_; i-- > 0;) {
    const Declaration& declaration = declarations_[i];
    if (declaration.uri != uri) continue;
    if (declaration.prefix.empty() && is_attribute) continue;
    // A later declaration of the same prefix shadows this one.
    if (UriForPrefix(declaration.prefix) == uri) return std::string_view(declaration.prefix);
  }
  return std::nullopt;
}

std::optional<std::string> NamespaceScope::AddNewPrefix(const XmlName& name, bool is_attribute) {
  const std::string& uri = name.NamespaceUri();
  if (PrefixForUri(uri, is_attribute)) return std::nullopt;
  if (uri.empty()) {
    // An element without a namespace under a default namespace: only undeclaring the default
    // namespace can express it (a prefix may not be bound to the empty URI).
    AddDeclaration("", "");
    return std::string();
  }
  const std::string guess = GuessPrefix(uri);
  std::string candidate = guess;
  for (int suffix = 2; UriForPrefix(candidate); ++suffix) {
    candidate = guess + std::to_string(suffix);
  }
  AddDeclaration(candidate, uri);
  return candidate;
}

std::string NamespaceScope::FormatName(const XmlName& name, bool is_attribute) const {
  std::string out;
  AppendFormattedName(out, name, is_attribute);
  return out;
}

void NamespaceScope::AppendFormattedName(std::string& out, const XmlName& name,
                                         bool is_attribute) const {
  std::optional<std::string_view> prefix = PrefixForUri(name.NamespaceUri(), is_attribute);
  if (prefix && !prefix->empty()) {
    out.append(*prefix);
    out.push_back(':');
  }
  out.append(name.LocalName());
}

std::string NamespaceScope::GuessPrefix(std::string_view uri) {
  size_t end = uri.size();
  // Cut a short suffix such as ".com" or ".xsd".
  size_t dot = uri.rfind('.');
  if (dot != std::string_view::npos && uri.size() - dot <= 5) end = dot;
  size_t last = end;
  while (last > 0 && !IsAsciiLetter(uri[last - 1])) --last;
  if (last == 0) return "ns";
  size_t first = last - 1;
  while (first > 0 && IsAsciiLetter(uri[first - 1])) --first;
  size_t run = last - first;
  std::string prefix(uri.substr(first, run <= 4 ? run : 3));
  for (char& c : prefix) c = AsciiLower(c);
  if (prefix.starts_with("xml")) return "ns";
  return prefix;
}

}  // namespace vexalo
