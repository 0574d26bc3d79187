#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexalo {

// The value types of the settings registry. The numbers are the classic registry type codes,
// so a blob that remembers its type keeps the same number everywhere.
enum class RegType : uint32_t {
  kString = 1,
  kBinary = 3,
  kDword = 4,
  kMultiString = 7,
};

// Limits that every value read from or written to the registry obeys; the file is edited by
// hand and must not make us allocate without bound.
inline constexpr size_t kMaxRegValueBytes = 32 * 1024;
inline constexpr size_t kMaxRegNameBytes = 255;
inline constexpr size_t kMaxRegPathBytes = 1024;

// One typed registry value. Only the content of its own type is ever set; the others stay
// empty.
class RegValue {
 public:
  RegValue() = default;

  static RegValue Dword(uint32_t value) {
    RegValue v(RegType::kDword);
    v.dword_ = value;
    return v;
  }
  static RegValue String(std::string text) {
    RegValue v(RegType::kString);
    v.text_ = std::move(text);
    return v;
  }
  static RegValue MultiString(std::vector<std::string> strings) {
    RegValue v(RegType::kMultiString);
    v.strings_ = std::move(strings);
    return v;
  }
  static RegValue Binary(std::vector<uint8_t> bytes) {
    RegValue v(RegType::kBinary);
    v.bytes_ = std::move(bytes);
    return v;
  }

  RegType type() const { return type_; }

  // The content when the type matches, otherwise nothing.
  std::optional<uint32_t> AsDword() const {
    return type_ == RegType::kDword ? std::optional<uint32_t>(dword_) : std::nullopt;
  }
  const std::string* AsString() const { return type_ == RegType::kString ? &text_ : nullptr; }
  const std::vector<std::string>* AsMultiString() const {
    return type_ == RegType::kMultiString ? &strings_ : nullptr;
  }
  const std::vector<uint8_t>* AsBinary() const {
    return type_ == RegType::kBinary ? &bytes_ : nullptr;
  }

  // The content of each type, empty (0) for a value of another type.
  uint32_t dword() const { return dword_; }
  const std::string& text() const { return text_; }
  const std::vector<std::string>& strings() const { return strings_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

  // Bytes of content (strings without terminators), what kMaxRegValueBytes limits.
  size_t ContentSize() const;
  // Within the size limit, and text that is valid UTF-8 without NUL characters.
  bool IsStorable() const;

  bool operator==(const RegValue& other) const = default;

 private:
  explicit RegValue(RegType type) : type_(type) {}

  RegType type_ = RegType::kString;
  uint32_t dword_ = 0;
  std::string text_;
  std::vector<std::string> strings_;
  std::vector<uint8_t> bytes_;
};

}  // namespace vexalo
