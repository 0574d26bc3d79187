#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace vexalo {

// How a password is held. The application supplies one that keeps it protected in memory.
class SecretTextImpl {
 public:
  virtual ~SecretTextImpl() = default;
  virtual size_t GetLength() const = 0;
  // Copies the clear text into `buffer` (at most `size` bytes, NUL-terminated when asked and
  // there is room); returns the number of text bytes copied.
  virtual size_t CopyTo(char* buffer, size_t size, bool nul_terminate) const = 0;
  // The clear text, %-encoded for a form or URL.
  virtual std::string UrlEncoded() const = 0;
  virtual std::unique_ptr<SecretTextImpl> Clone() const = 0;
};

// A password whose clear text lives only briefly: users copy it into a ScopedClearText, use it,
// and the copy is overwritten with zeros when it goes.
class SecretText {
 public:
  SecretText() = default;
  explicit SecretText(std::unique_ptr<SecretTextImpl> impl) : impl_(std::move(impl)) {}
  // A secret held in a buffer that is zero-filled when released.
  static SecretText FromClearText(const std::string& clear_text);

  SecretText(const SecretText& other) : impl_(other.impl_ ? other.impl_->Clone() : nullptr) {}
  SecretText& operator=(const SecretText& other) {
    if (this != &other) impl_ = other.impl_ ? other.impl_->Clone() : nullptr;
    return *this;
  }
  SecretText(SecretText&&) noexcept = default;
  SecretText& operator=(SecretText&&) noexcept = default;

  size_t GetLength() const { return impl_ ? impl_->GetLength() : 0; }
  bool empty() const { return GetLength() == 0; }
  size_t CopyTo(char* buffer, size_t size, bool nul_terminate) const;
  std::string UrlEncoded() const { return impl_ ? impl_->UrlEncoded() : std::string(); }

 private:
  std::unique_ptr<SecretTextImpl> impl_;
};

// The clear text of a secret for as long as this object lives; zero-filled on destruction.
class ScopedClearText {
 public:
  explicit ScopedClearText(const SecretText& secret);
  ~ScopedClearText();
  ScopedClearText(const ScopedClearText&) = delete;
  ScopedClearText& operator=(const ScopedClearText&) = delete;

  const char* data() const { return buffer_.get(); }
  size_t size() const { return length_; }

 private:
  std::unique_ptr<char[]> buffer_;
  size_t length_;
};

// Overwrites memory with zeros in a way the compiler may not drop.
void SecureZero(void* data, size_t size);

}  // namespace vexalo
