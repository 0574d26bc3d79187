#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexalo {

// The shared record behind an XmlName. `refs` counts the XmlName values (and the table slot)
// holding it; 0 marks a free slot of the name table.
struct NameRecord {
  std::string namespace_uri;
  std::string local;
  std::atomic<int32_t> refs{0};
};

// A qualified name (namespace URI plus local name) holding one counted reference to a shared
// record. The protocol's name constants are interned in the name table at start-up; names made
// while parsing reuse their records, so comparing such names is a pointer comparison. The
// counts are atomic, so names (the constants above all) may be copied on any thread; element
// trees are not shared between threads.
class XmlName {
 public:
  // The empty name ("", "").
  XmlName();
  // `interned` true is for static name constants only: the name is entered in the table.
  // Otherwise a matching table entry is shared, or a private record is made.
  XmlName(std::string_view namespace_uri, std::string_view local, bool interned = false);
  // Copies share the record; there is no cheaper move, a moved-from name must stay usable.
  XmlName(const XmlName& other);
  XmlName& operator=(const XmlName& other);
  ~XmlName();

  const std::string& NamespaceUri() const { return record_->namespace_uri; }
  const std::string& LocalName() const { return record_->local; }

  bool operator==(const XmlName& other) const {
    return record_ == other.record_ || (record_->local == other.record_->local &&
                                        record_->namespace_uri == other.record_->namespace_uri);
  }
  bool operator!=(const XmlName& other) const { return !(*this == other); }
  // Local names first, then namespaces, both byte-wise.
  bool operator<(const XmlName& other) const;

  // Whether both names share one record (true for matching interned names).
  bool SharesRecordWith(const XmlName& other) const { return record_ == other.record_; }

 private:
  static void Retain(NameRecord* record) { record->refs.fetch_add(1, std::memory_order_relaxed); }
  static void Release(NameRecord* record);

  NameRecord* record_;
};

// Names used by the XML layer itself.
extern const XmlName kQnEmpty;
extern const XmlName kQnXmlns;

}  // namespace vexalo
