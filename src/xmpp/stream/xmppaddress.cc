#include "xmpp/stream/xmppaddress.h"

#include "text/asciitext.h"

namespace vexalo {
namespace {

// Each part is bounded, as preparation profiles of the protocol require.
constexpr size_t kMaxPartBytes = 1023;
constexpr size_t kMaxLabelBytes = 63;

const std::string& EmptyString() {
  static const std::string* empty = new std::string;
  return *empty;
}

// Control characters cannot be written in XML at all, so an address holding one could never
// be sent or received.
bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool PrepareLabel(std::string_view label, std::string* out) {
  if (label.empty() || label.size() > kMaxLabelBytes) return false;
  if (label.front() == '-' || label.back() == '-') return false;
  for (char ch : label) {
    unsigned char c = static_cast<unsigned char>(ch);
    const char lower = AsciiLower(ch);
    if ((lower >= 'a' && lower <= 'z') || IsAsciiDigit(ch) || c == '-' || c >= 0x80) {
      out->push_back(lower);
    } else {
      return false;
    }
  }
  return true;
}

int CompareStrings(const std::string& a, const std::string& b) {
  int result = a.compare(b);
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

}  // namespace

const XmppAddress kEmptyAddress;

XmppAddress::XmppAddress(std::string_view text) {
  if (text.empty()) return;
  size_t slash = text.find('/');
  std::string_view resource;
  std::string_view before_slash = text;
  if (slash != std::string_view::npos) {
    resource = text.substr(slash + 1);
    // "u@d/" is not "u@d": a separator must be followed by a part.
    if (resource.empty()) return;
    before_slash = text.substr(0, slash);
  }
  // An '@' after the first '/' belongs to the resource.
  size_t at = before_slash.find('@');
  std::string_view node;
  std::string_view domain = before_slash;
  if (at != std::string_view::npos) {
    node = before_slash.substr(0, at);
    domain = before_slash.substr(at + 1);
    if (node.empty()) return;
  }
  if (domain.empty()) return;
  Build(node, domain, resource);
}

XmppAddress::XmppAddress(std::string_view node, std::string_view domain,
                         std::string_view resource) {
  Build(node, domain, resource);
}

void XmppAddress::Build(std::string_view node, std::string_view domain, std::string_view resource) {
  auto record = std::make_shared<Record>();
  if (!PrepareNode(node, &record->node) || !PrepareDomain(domain, &record->domain) ||
      !PrepareResource(resource, &record->resource)) {
    return;
  }
  record_ = std::move(record);
}

bool XmppAddress::PrepareNode(std::string_view node, std::string* out) {
  out->clear();
  if (node.size() > kMaxPartBytes) return false;
  for (char ch : node) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (IsControl(c)) return false;
    switch (c) {
      case ' ':
      case '"':
      case '&':
      case '\'':
      case '/':
      case ':':
      case '<':
      case '>':
      case '@':
        return false;
      default:
        break;
    }
    out->push_back(AsciiLower(ch));
  }
  return true;
}

bool XmppAddress::PrepareDomain(std::string_view domain, std::string* out) {
  out->clear();
  if (domain.size() > kMaxPartBytes) return false;
  size_t start = 0;
  while (true) {
    size_t dot = domain.find('.', start);
    std::string_view label =
        domain.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (!PrepareLabel(label, out)) return false;
    if (dot == std::string_view::npos) break;
    out->push_back('.');
    start = dot + 1;
  }
  return true;
}

bool XmppAddress::PrepareResource(std::string_view resource, std::string* out) {
  out->clear();
  if (resource.size() > kMaxPartBytes) return false;
  for (char ch : resource) {
    if (IsControl(static_cast<unsigned char>(ch))) return false;
  }
  out->assign(resource);
  return true;
}

const std::string& XmppAddress::NodePart() const { return record_ ? record_->node : EmptyString(); }

const std::string& XmppAddress::DomainPart() const {
  return record_ ? record_->domain : EmptyString();
}

const std::string& XmppAddress::ResourcePart() const {
  return record_ ? record_->resource : EmptyString();
}

std::string XmppAddress::ToString() const {
  if (!record_) return std::string();
  std::string text;
  text.reserve(record_->node.size() + record_->domain.size() + record_->resource.size() + 2);
  if (!record_->node.empty()) {
    text.append(record_->node);
    text.push_back('@');
  }
  text.append(record_->domain);
  if (!record_->resource.empty()) {
    text.push_back('/');
    text.append(record_->resource);
  }
  return text;
}

XmppAddress XmppAddress::WithoutResource() const {
  if (!record_ || record_->resource.empty()) return *this;
  XmppAddress bare;
  bare.record_ = std::make_shared<const Record>(Record{record_->node, record_->domain, ""});
  return bare;
}

bool XmppAddress::operator==(const XmppAddress& other) const {
  if (record_ == other.record_) return true;
  if (!record_ || !other.record_) return false;
  return record_->node == other.record_->node && record_->domain == other.record_->domain &&
         record_->resource == other.record_->resource;
}

bool XmppAddress::SameAccount(const XmppAddress& other) const {
  if (record_ == other.record_) return true;
  if (!record_ || !other.record_) return false;
  return record_->node == other.record_->node && record_->domain == other.record_->domain;
}

int XmppAddress::Compare(const XmppAddress& other) const {
  if (record_ == other.record_) return 0;
  if (!record_) return -1;
  if (!other.record_) return 1;
  if (int c = CompareStrings(record_->node, other.record_->node); c != 0) return c;
  if (int c = CompareStrings(record_->domain, other.record_->domain); c != 0) return c;
  return CompareStrings(record_->resource, other.record_->resource);
}

size_t XmppAddress::Hash() const {
  if (!record_) return 0;
  std::hash<std::string> hash;
  size_t h = hash(record_->node);
  h = h * 31 + hash(record_->domain);
  return h * 31 + hash(record_->resource);
}

}  // namespace vexalo
