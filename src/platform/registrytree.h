#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/regkey.h"
#include "platform/regvalue.h"

namespace vexalo {

// The per-user registry in memory: keys named by backslash-separated paths
// ("Software\\Ombrix\\Vexalo\\Options") holding typed values. A key exists while it or one of
// its sub keys holds a value; an empty key is not kept. Names are case-sensitive.
class RegistryTree {
 public:
  // A key path: non-empty components without NUL, valid UTF-8, within the length limits.
  static bool IsValidPath(std::string_view path);
  static bool IsValidName(std::string_view name);

  bool KeyExists(std::string_view path) const;
  // Removes the key with every sub key and value. False when there was nothing to remove.
  bool DeleteKey(std::string_view path);

  std::optional<RegValue> QueryValue(std::string_view path, std::string_view name) const;
  // False (and nothing changes) when the path, the name or the value breaks the limits.
  bool SetValue(std::string_view path, std::string_view name, const RegValue& value);
  bool DeleteValue(std::string_view path, std::string_view name);

  // Names of the direct sub keys and of the values of a key, sorted.
  std::vector<std::string> SubKeys(std::string_view path) const;
  std::vector<std::string> ValueNames(std::string_view path) const;
  bool empty() const { return keys_.empty(); }

  // The file form: a key file with one group per key, each value as "type:content".
  std::string ToText() const;
  // Null when the text is not a key file at all. Values that break the limits, that are not
  // UTF-8 or that do not parse are left out, each with a warning in the log; `rejected`
  // counts them.
  static std::optional<RegistryTree> FromText(std::string_view text, int* rejected = nullptr);

  bool operator==(const RegistryTree& other) const = default;

 private:
  using Values = std::map<std::string, RegValue, std::less<>>;
  std::map<std::string, Values, std::less<>> keys_;
};

// One key of a RegistryTree, through the RegKey interface.
class TreeKey : public RegKey {
 public:
  TreeKey(RegistryTree* tree, std::string path) : tree_(tree), path_(std::move(path)) {}
  std::optional<RegValue> QueryValue(std::string_view name) const override {
    return tree_->QueryValue(path_, name);
  }
  bool SetValue(std::string_view name, const RegValue& value) override {
    return tree_->SetValue(path_, name, value);
  }
  bool DeleteValue(std::string_view name) override { return tree_->DeleteValue(path_, name); }

 private:
  RegistryTree* tree_;
  std::string path_;
};

}  // namespace vexalo
