#include "xmpp/vcard/vcard.h"

#include <cstdint>

#include "base/runtime/logging.h"
#include "xmpp/vcard/avatarhash.h"
#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsBase64Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

VCard::VCard(const XmlElem& element) : element_(std::make_shared<const XmlElem>(element)) {}

VCard VCard::WithPhotoBase64(std::string_view base64) {
  VCard card;
  card.photo_base64_.assign(base64);
  return card;
}

std::string VCard::FullName() const {
  if (element_ == nullptr) return std::string();
  return element_->ChildText(kQnVcardFn);
}

std::string VCard::Photo() const {
  std::string_view text = photo_base64_;
  if (element_ != nullptr) {
    const XmlElem* photo = element_->FindChild(kQnVcardPhoto);
    if (photo == nullptr) return std::string();
    text = photo->ChildText(kQnVcardBinval);
  }
  std::string bytes;
  if (text.empty()) return bytes;
  if (!DecodeBase64(text, kMaxAvatarBytes, &bytes)) {
    LOG(kWarning) << "VCard::Photo - picture of " << text.size()
                  << " Base64 characters is malformed or larger than " << kMaxAvatarBytes
                  << " bytes; ignored";
    return std::string();
  }
  return bytes;
}

bool VCard::IsModified() const {
  if (element_ == nullptr || !element_->HasAttribute(kQnAvatarModified)) return true;
  return element_->GetAttribute(kQnAvatarModified) != "false";
}

std::unique_ptr<XmlElem> VCard::BuildElement() const {
  auto vcard = std::make_unique<XmlElem>(kQnVcard, true);
  if (!photo_base64_.empty()) {
    XmlElem* photo = vcard->AppendChild(std::make_unique<XmlElem>(kQnVcardPhoto));
    photo->AppendChild(std::make_unique<XmlElem>(kQnVcardBinval))->AppendText(photo_base64_);
  }
  return vcard;
}

std::string VCard::EncodeBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) |
                       (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                       static_cast<uint8_t>(bytes[i + 2]);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

bool VCard::DecodeBase64(std::string_view text, size_t max_bytes, std::string* out) {
  out->clear();
  uint32_t bits = 0;
  int sextets = 0;  // in the current quantum
  int padding = 0;
  for (char c : text) {
    if (IsBase64Space(c)) continue;
    if (c == '=') {
      // Padding completes the last quantum only: "xx==" or "xxx=".
      if (sextets + padding < 2) return false;
      ++padding;
      if (sextets + padding > 4) return false;
      continue;
    }
    if (padding > 0) return false;
    const int sextet = SextetOf(c);
    if (sextet < 0) return false;
    bits = (bits << 6) | static_cast<uint32_t>(sextet);
    if (++sextets == 4) {
      if (out->size() + 3 > max_bytes) return false;
      out->push_back(static_cast<char>(bits >> 16));
      out->push_back(static_cast<char>(bits >> 8));
      out->push_back(static_cast<char>(bits));
      bits = 0;
      sextets = 0;
    }
  }
  if (padding > 0 && sextets + padding != 4) return false;
  // A final quantum of 2 or 3 characters, with or without its padding.
  if (sextets == 1) return false;
  if (sextets >= 2) {
    const size_t extra = sextets == 2 ? 1 : 2;
    if (out->size() + extra > max_bytes) return false;
    bits <<= 6 * (4 - sextets);
    out->push_back(static_cast<char>(bits >> 16));
    if (sextets == 3) out->push_back(static_cast<char>(bits >> 8));
  }
  return true;
}

}  // namespace vexalo
