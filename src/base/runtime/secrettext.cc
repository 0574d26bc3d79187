#include "base/runtime/secrettext.h"

#include <string.h>

#include <algorithm>

#include "base/http/percentencoding.h"

namespace vexalo {
namespace {

class ZeroedSecret : public SecretTextImpl {
 public:
  ZeroedSecret(const char* data, size_t size) : bytes_(new char[size + 1]), size_(size) {
    std::copy(data, data + size, bytes_.get());
    bytes_[size] = '\0';
  }
  ~ZeroedSecret() override { SecureZero(bytes_.get(), size_ + 1); }

  size_t GetLength() const override { return size_; }
  size_t CopyTo(char* buffer, size_t size, bool nul_terminate) const override {
    if (size == 0) return 0;
    size_t room = nul_terminate ? size - 1 : size;
    size_t count = std::min(room, size_);
    std::copy(bytes_.get(), bytes_.get() + count, buffer);
    if (nul_terminate) buffer[count] = '\0';
    return count;
  }
  std::string UrlEncoded() const override {
    return UrlEncode(std::string_view(bytes_.get(), size_));
  }
  std::unique_ptr<SecretTextImpl> Clone() const override {
    return std::make_unique<ZeroedSecret>(bytes_.get(), size_);
  }

 private:
  std::unique_ptr<char[]> bytes_;
  size_t size_;
};

}  // namespace

void SecureZero(void* data, size_t size) { explicit_bzero(data, size); }

SecretText SecretText::FromClearText(const std::string& clear_text) {
  return SecretText(std::make_unique<ZeroedSecret>(clear_text.data(), clear_text.size()));
}

size_t SecretText::CopyTo(char* buffer, size_t size, bool nul_terminate) const {
  if (impl_) return impl_->CopyTo(buffer, size, nul_terminate);
  if (nul_terminate && size > 0) buffer[0] = '\0';
  return 0;
}

ScopedClearText::ScopedClearText(const SecretText& secret)
    : buffer_(new char[secret.GetLength() + 1]), length_(0) {
  length_ = secret.CopyTo(buffer_.get(), secret.GetLength() + 1, true);
}

ScopedClearText::~ScopedClearText() { SecureZero(buffer_.get(), length_ + 1); }

}  // namespace vexalo
