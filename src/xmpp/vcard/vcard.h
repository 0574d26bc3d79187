#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "xml/xmlelem.h"

namespace vexalo {

// A contact's vCard ("vcard-temp") as received, or the card we publish for ourselves (only a
// picture). A value type; copies share the received element.
class VCard {
 public:
  // A card with nothing in it.
  VCard() = default;
  // A received vCard element (copied).
  explicit VCard(const XmlElem& element);
  // A card to publish: the picture as Base64 text (empty: no picture).
  static VCard WithPhotoBase64(std::string_view base64);

  // The received element; null for a card being built.
  const XmlElem* element() const { return element_.get(); }
  const std::string& photo_base64() const { return photo_base64_; }

  // Text of FN; empty when absent.
  std::string FullName() const;
  // The decoded PHOTO/BINVAL (or the Base64 text given to WithPhotoBase64). Empty when absent,
  // not Base64, or more than kMaxAvatarBytes.
  std::string Photo() const;
  // False only when the server says that the picture behind the hash we asked with is
  // unchanged (ombrix:avatar modified="false").
  bool IsModified() const;

  // <vCard xmlns="vcard-temp"> with <PHOTO><BINVAL>...</BINVAL></PHOTO> when a picture is set.
  std::unique_ptr<XmlElem> BuildElement() const;

  static std::string EncodeBase64(std::string_view bytes);
  // Decodes `text`, ignoring white space (vCards wrap their lines). False for other bytes
  // outside the alphabet, misplaced padding, or more than `max_bytes` of output.
  static bool DecodeBase64(std::string_view text, size_t max_bytes, std::string* out);

 private:
  std::shared_ptr<const XmlElem> element_;
  std::string photo_base64_;
};

}  // namespace vexalo
