#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vexalo {

// An XMPP address (JID): node@domain/resource, prepared on construction (node and domain
// lower-cased and checked, resource kept as written). A value type; copies share one immutable
// record. An address that failed to parse holds no record and is invalid.
class XmppAddress {
 public:
  // The invalid address.
  XmppAddress() = default;
  explicit XmppAddress(std::string_view text);
  // Each part prepared on its own; invalid unless all three are valid.
  XmppAddress(std::string_view node, std::string_view domain, std::string_view resource);

  bool IsValid() const { return record_ != nullptr; }
  bool IsBareAddress() const { return IsValid() && record_->resource.empty(); }
  bool HasResource() const { return IsValid() && !record_->resource.empty(); }

  const std::string& NodePart() const;
  const std::string& DomainPart() const;
  const std::string& ResourcePart() const;

  // node@domain/resource, leaving out the empty parts; empty for the invalid address.
  std::string ToString() const;
  // The bare address (shares the record when this one is bare already).
  XmppAddress WithoutResource() const;

  // All parts equal; two invalid addresses are equal.
  bool operator==(const XmppAddress& other) const;
  bool operator!=(const XmppAddress& other) const { return !(*this == other); }
  // Node and domain equal, resources ignored.
  bool SameAccount(const XmppAddress& other) const;
  // Negative, 0 or positive; the invalid address first, then by node, domain, resource.
  int Compare(const XmppAddress& other) const;
  bool operator<(const XmppAddress& other) const { return Compare(other) < 0; }

  size_t Hash() const;

  // The preparation rules, exposed for callers that check user input part by part. Each
  // returns false and leaves `out` unspecified when the part is not allowed.
  static bool PrepareNode(std::string_view node, std::string* out);
  static bool PrepareDomain(std::string_view domain, std::string* out);
  static bool PrepareResource(std::string_view resource, std::string* out);

 private:
  struct Record {
    std::string node;
    std::string domain;
    std::string resource;
  };

  void Build(std::string_view node, std::string_view domain, std::string_view resource);

  std::shared_ptr<const Record> record_;
};

// The address parsed from the empty string: invalid.
extern const XmppAddress kEmptyAddress;

}  // namespace vexalo

template <>
struct std::hash<vexalo::XmppAddress> {
  size_t operator()(const vexalo::XmppAddress& address) const { return address.Hash(); }
};
