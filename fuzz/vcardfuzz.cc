// Parses arbitrary text as a vCard answer and as a Base64 picture. Nothing may crash; a
// picture is never larger than the limit, and whatever decodes encodes back to text that
// decodes to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "xml/xmlelem.h"
#include "xmpp/vcard/avatarhash.h"
#include "xmpp/stream/constants.h"
#include "xmpp/vcard/vcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string bytes;
  if (vexalo::VCard::DecodeBase64(text, 4096, &bytes)) {
    if (bytes.size() > 4096) abort();
    std::string again;
    if (!vexalo::VCard::DecodeBase64(vexalo::VCard::EncodeBase64(bytes), 4096, &again) ||
        again != bytes) {
      abort();
    }
  }
  if (vexalo::IsAvatarHash(text) != !vexalo::NormalizeAvatarHash(text).empty()) abort();

  std::unique_ptr<vexalo::XmlElem> element = vexalo::XmlElem::ParseFromString(text);
  if (element == nullptr) return 0;
  const vexalo::XmlElem* card =
      element->Name() == vexalo::kQnVcard ? element.get() : element->FindChild(vexalo::kQnVcard);
  if (card == nullptr) return 0;
  const vexalo::VCard vcard(*card);
  vcard.FullName();
  vcard.IsModified();
  if (vcard.Photo().size() > vexalo::kMaxAvatarBytes) abort();
  return 0;
}
