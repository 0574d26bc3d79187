#include "xml/xmlname.h"

#include <array>

namespace vexalo {
namespace {

constexpr uint32_t kTableSize = 512;
constexpr uint32_t kTableMask = kTableSize - 1;

// Open-addressed table of the interned names. Slots are filled only by the static name
// constants (during static initialisation) and never freed, so run-time lookups only read
// the strings; the counts are atomic because copies of a constant may live on any thread.
class NameTable {
 public:
  // Returns a counted reference to a matching slot, entering the name when `intern` is set.
  // Null when the name is not in the table (or the table is full).
  NameRecord* Lookup(std::string_view namespace_uri, std::string_view local, bool intern) {
    // Only the namespace's length enters the hash: many names share a few namespaces.
    uint32_t h = static_cast<uint32_t>(namespace_uri.size()) * 101u;
    for (char c : local) {
      h = h * 19u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    }
    uint32_t slot = h & kTableMask;
    // Odd step over a power-of-two table: the probe sequence visits every slot once.
    const uint32_t step = static_cast<uint32_t>(static_cast<int32_t>(h | 0x100u) >> 8);
    for (uint32_t probes = 0; probes < kTableSize; ++probes) {
      NameRecord& record = slots_[slot];
      if (record.refs.load(std::memory_order_acquire) == 0) {
        if (!intern) return nullptr;
        record.namespace_uri.assign(namespace_uri);
        record.local.assign(local);
        // One reference for the table, for ever, and one for the constant being built.
        record.refs.store(2, std::memory_order_release);
        return &record;
      }
      if (record.local == local && record.namespace_uri == namespace_uri) {
        record.refs.fetch_add(1, std::memory_order_relaxed);
        return &record;
      }
      slot = (slot + step) & kTableMask;
    }
    return nullptr;
  }

 private:
  std::array<NameRecord, kTableSize> slots_;
};

NameTable& Table() {
  // Never destroyed: name constants of other translation units may outlive any static here.
  static NameTable* table = new NameTable;
  return *table;
}

NameRecord* FindOrMake(std::string_view namespace_uri, std::string_view local, bool interned) {
  if (NameRecord* record = Table().Lookup(namespace_uri, local, interned)) return record;
  auto* record = new NameRecord{std::string(namespace_uri), std::string(local)};
  record->refs.store(1, std::memory_order_relaxed);
  return record;
}

}  // namespace

const XmlName kQnEmpty("", "", true);
const XmlName kQnXmlns("", "xmlns", true);

XmlName::XmlName() : record_(FindOrMake("", "", false)) {}

XmlName::XmlName(std::string_view namespace_uri, std::string_view local, bool interned)
    : record_(FindOrMake(namespace_uri, local, interned)) {}

XmlName::XmlName(const XmlName& other) : record_(other.record_) { Retain(record_); }

XmlName& XmlName::operator=(const XmlName& other) {
  if (record_ != other.record_) {
    Retain(other.record_);
    Release(record_);
    record_ = other.record_;
  }
  return *this;
}

XmlName::~XmlName() { Release(record_); }

void XmlName::Release(NameRecord* record) {
  // Table slots never drop to zero: the table keeps its own reference.
  if (record->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete record;
}

bool XmlName::operator<(const XmlName& other) const {
  if (record_ == other.record_) return false;
  int by_local = record_->local.compare(other.record_->local);
  if (by_local != 0) return by_local < 0;
  return record_->namespace_uri < other.record_->namespace_uri;
}

}  // namespace vexalo
