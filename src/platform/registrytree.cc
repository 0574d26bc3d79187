#include "platform/registrytree.h"

#include <glib.h>

#include <charconv>
#include <cstring>
#include <memory>

#include "base/runtime/logging.h"
#include "base/http/percentencoding.h"

namespace vexalo {

namespace {

constexpr char kSeparator = '\\';
constexpr std::string_view kDwordTag = "dword:";
constexpr std::string_view kStringTag = "sz:";
constexpr std::string_view kMultiStringTag = "multi_sz:";
constexpr std::string_view kBinaryTag = "hex:";

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

struct GCharDeleter {
  void operator()(gchar* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GCharDeleter>;

bool IsValidText(std::string_view text) {
  return text.find('\0') == std::string_view::npos &&
         g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr);
}

// Key file group and key names may not hold brackets, '=', control characters or edge spaces;
// everything but a small safe set is written as %XX so that any registry name survives.
bool IsPlainNameByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.' || c == '@' || c == '+';
}

std::string EscapeName(std::string_view name) { return PercentEncode(name, IsPlainNameByte); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> UnescapeName(std::string_view escaped) {
  std::string out;
  out.reserve(escaped.size());
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '%') {
      out.push_back(escaped[i]);
      continue;
    }
    if (i + 2 >= escaped.size()) return std::nullopt;
    const int high = HexDigit(escaped[i + 1]);
    const int low = HexDigit(escaped[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

std::string EscapePath(std::string_view path) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find(kSeparator, start);
    out += EscapeName(path.substr(start, end - start));
    if (end == std::string_view::npos) break;
    out.push_back(kSeparator);
    start = end + 1;
  }
  return out;
}

std::optional<std::string> UnescapePath(std::string_view escaped) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t end = escaped.find(kSeparator, start);
    std::optional<std::string> part = UnescapeName(escaped.substr(start, end - start));
    if (!part || part->find(kSeparator) != std::string::npos) return std::nullopt;
    out += *part;
    if (end == std::string_view::npos) break;
    out.push_back(kSeparator);
    start = end + 1;
  }
  return out;
}

// Elements of a multi-string, each followed by ';', with '\' and ';' escaped by '\'.
std::string EncodeMultiString(const std::vector<std::string>& strings) {
  std::string out;
  for (const std::string& s : strings) {
    for (char c : s) {
      if (c == '\\' || c == ';') out.push_back('\\');
      out.push_back(c);
    }
    out.push_back(';');
  }
  return out;
}

std::optional<std::vector<std::string>> DecodeMultiString(std::string_view text) {
  std::vector<std::string> strings;
  std::string current;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      if (i + 1 >= text.size()) return std::nullopt;
      current.push_back(text[++i]);
    } else if (c == ';') {
      strings.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) return std::nullopt;  // the last element lacks its ';'
  return strings;
}

std::string EncodeValue(const RegValue& value) {
  switch (value.type()) {
    case RegType::kDword:
      return std::string(kDwordTag) + std::to_string(value.dword());
    case RegType::kString:
      return std::string(kStringTag) + value.text();
    case RegType::kMultiString:
      return std::string(kMultiStringTag) + EncodeMultiString(value.strings());
    case RegType::kBinary:
      break;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(kBinaryTag);
  for (uint8_t b : value.bytes()) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 15]);
  }
  return out;
}

std::optional<RegValue> DecodeValue(std::string_view text) {
  if (text.starts_with(kDwordTag)) {
    text.remove_prefix(kDwordTag.size());
    uint32_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
      return std::nullopt;
    }
    return RegValue::Dword(number);
  }
  if (text.starts_with(kStringTag)) {
    return RegValue::String(std::string(text.substr(kStringTag.size())));
  }
  if (text.starts_with(kMultiStringTag)) {
    auto strings = DecodeMultiString(text.substr(kMultiStringTag.size()));
    if (!strings) return std::nullopt;
    return RegValue::MultiString(std::move(*strings));
  }
  if (text.starts_with(kBinaryTag)) {
    text.remove_prefix(kBinaryTag.size());
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
      const int high = HexDigit(text[i]);
      const int low = HexDigit(text[i + 1]);
      if (high < 0 || low < 0) return std::nullopt;
      bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return RegValue::Binary(std::move(bytes));
  }
  return std::nullopt;
}

}  // namespace

bool RegistryTree::IsValidName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxRegNameBytes && IsValidText(name);
}

bool RegistryTree::IsValidPath(std::string_view path) {
  if (path.empty() || path.size() > kMaxRegPathBytes || !IsValidText(path)) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find(kSeparator, start);
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part.size() > kMaxRegNameBytes) return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

bool RegistryTree::KeyExists(std::string_view path) const {
  if (keys_.find(path) != keys_.end()) return true;
  const std::string prefix = std::string(path) + kSeparator;
  auto it = keys_.lower_bound(prefix);
  return it != keys_.end() && it->first.starts_with(prefix);
}

bool RegistryTree::DeleteKey(std::string_view path) {
  bool removed = keys_.erase(std::string(path)) > 0;
  const std::string prefix = std::string(path) + kSeparator;
  auto it = keys_.lower_bound(prefix);
  while (it != keys_.end() && it->first.starts_with(prefix)) {
    it = keys_.erase(it);
    removed = true;
  }
  return removed;
}

std::optional<RegValue> RegistryTree::QueryValue(std::string_view path,
                                                 std::string_view name) const {
  auto key = keys_.find(path);
  if (key == keys_.end()) return std::nullopt;
  auto value = key->second.find(name);
  if (value == key->second.end()) return std::nullopt;
  return value->second;
}

bool RegistryTree::SetValue(std::string_view path, std::string_view name, const RegValue& value) {
  if (!IsValidPath(path) || !IsValidName(name) || !value.IsStorable()) return false;
  auto key = keys_.find(path);
  if (key == keys_.end()) key = keys_.emplace(std::string(path), Values()).first;
  key->second.insert_or_assign(std::string(name), value);
  return true;
}

bool RegistryTree::DeleteValue(std::string_view path, std::string_view name) {
  auto key = keys_.find(path);
  if (key == keys_.end()) return false;
  auto value = key->second.find(name);
  if (value == key->second.end()) return false;
  key->second.erase(value);
  if (key->second.empty()) keys_.erase(key);
  return true;
}

std::vector<std::string> RegistryTree::SubKeys(std::string_view path) const {
  std::vector<std::string> names;
  const std::string prefix = std::string(path) + kSeparator;
  for (auto it = keys_.lower_bound(prefix); it != keys_.end() && it->first.starts_with(prefix);
       ++it) {
    std::string_view rest = std::string_view(it->first).substr(prefix.size());
    std::string child(rest.substr(0, rest.find(kSeparator)));
    if (names.empty() || names.back() != child) names.push_back(std::move(child));
  }
  return names;
}

std::vector<std::string> RegistryTree::ValueNames(std::string_view path) const {
  std::vector<std::string> names;
  auto key = keys_.find(path);
  if (key == keys_.end()) return names;
  for (const auto& [name, value] : key->second) names.push_back(name);
  return names;
}

std::string RegistryTree::ToText() const {
  KeyFilePtr file(g_key_file_new());
  for (const auto& [path, values] : keys_) {
    const std::string group = EscapePath(path);
    for (const auto& [name, value] : values) {
      g_key_file_set_string(file.get(), group.c_str(), EscapeName(name).c_str(),
                            EncodeValue(value).c_str());
    }
  }
  gsize length = 0;
  GCharPtr data(g_key_file_to_data(file.get(), &length, nullptr));
  std::string text =
      "# Vexalo settings. Each value is typed: dword:NUMBER, sz:TEXT, multi_sz:A;B;, hex:BYTES.\n";
  if (data) text.append(data.get(), length);
  return text;
}

std::optional<RegistryTree> RegistryTree::FromText(std::string_view text, int* rejected) {
  int rejected_count = 0;
  KeyFilePtr file(g_key_file_new());
  GError* error = nullptr;
  if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, &error)) {
    LOG(kWarning) << "RegistryTree::FromText - not a settings file: " << error->message;
    g_error_free(error);
    return std::nullopt;
  }
  RegistryTree tree;
  gsize group_count = 0;
  gchar** groups = g_key_file_get_groups(file.get(), &group_count);
  for (gsize g = 0; g < group_count; ++g) {
    const std::optional<std::string> path = UnescapePath(groups[g]);
    gsize key_count = 0;
    gchar** keys = g_key_file_get_keys(file.get(), groups[g], &key_count, nullptr);
    if (!path || !IsValidPath(*path)) {
      LOG(kWarning) << "RegistryTree::FromText - key name rejected: [" << groups[g] << "]";
      rejected_count += static_cast<int>(key_count);
      g_strfreev(keys);
      continue;
    }
    for (gsize k = 0; k < key_count; ++k) {
      const std::optional<std::string> name = UnescapeName(keys[k]);
      // The raw text bounds the work before unescaping; content is checked again below.
      GCharPtr raw(g_key_file_get_value(file.get(), groups[g], keys[k], nullptr));
      std::optional<RegValue> value;
      const char* problem = nullptr;
      if (!name || !IsValidName(*name)) {
        problem = "bad name";
      } else if (!raw || strlen(raw.get()) > 2 * kMaxRegValueBytes + 16) {
        problem = "too long";
      } else {
        GCharPtr decoded(g_key_file_get_string(file.get(), groups[g], keys[k], &error));
        if (!decoded) {
          problem = "not UTF-8 text";
          g_clear_error(&error);
        } else {
          value = DecodeValue(decoded.get());
          if (!value) {
            problem = "unknown type or malformed content";
          } else if (!value->IsStorable()) {
            problem = value->ContentSize() > kMaxRegValueBytes ? "too long" : "not UTF-8 text";
            value.reset();
          }
        }
      }
      if (value) {
        tree.SetValue(*path, *name, *value);
      } else {
        ++rejected_count;
        LOG(kWarning) << "RegistryTree::FromText - value " << groups[g] << "\\" << keys[k]
                      << " rejected (" << problem << "); its default applies";
      }
    }
    g_strfreev(keys);
  }
  g_strfreev(groups);
  if (rejected) *rejected = rejected_count;
  return tree;
}

}  // namespace vexalo
