#include "session/tunnel/tunneldescriptionformat.h"

#include <charconv>
#include <utility>

#include "session/tunnel/tunneldescription.h"
#include "xml/xmlelem.h"

namespace vexalo {
namespace {

bool ParseSize(const std::string& text, uint64_t* size) {
  if (text.empty() || text.size() > 20) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *size);
  return error == std::errc() && end == text.data() + text.size();
}

bool IsSha256Hex(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

TunnelDescriptionFormat::TunnelDescriptionFormat(std::string tunnel_namespace)
    : namespace_(std::move(tunnel_namespace)) {}

std::shared_ptr<const SessionDescription> TunnelDescriptionFormat::ParseDescription(const XmlElem& element) {
  if (element.Name().NamespaceUri() != namespace_) return nullptr;
  const XmlElem* type = element.FindChild(XmlName(namespace_, "type"));
  if (type == nullptr || type->OnlyText().size() > kMaxTypeLength) return nullptr;
  const XmlElem* file = element.FindChild(XmlName(namespace_, "file"));
  if (file == nullptr) return std::make_shared<TunnelDescription>(type->OnlyText());
  FileOffer offer;
  offer.name = file->GetAttribute(XmlName("", "name"));
  offer.sha256 = file->GetAttribute(XmlName("", "sha256"));
  if (offer.name.empty() || offer.name.size() > kMaxFileNameLength) return nullptr;
  if (!ParseSize(file->GetAttribute(XmlName("", "size")), &offer.size)) return nullptr;
  if (!IsSha256Hex(offer.sha256)) return nullptr;
  return std::make_shared<TunnelDescription>(type->OnlyText(), std::move(offer));
}

std::unique_ptr<XmlElem> TunnelDescriptionFormat::WriteDescription(const SessionDescription& description) {
  auto element = std::make_unique<XmlElem>(XmlName(namespace_, "description"), true);
  const auto* tunnel = dynamic_cast<const TunnelDescription*>(&description);
  if (tunnel == nullptr) return element;
  element->AppendChild(std::make_unique<XmlElem>(XmlName(namespace_, "type")))->ReplaceText(tunnel->type());
  if (tunnel->file()) {
    XmlElem* file = element->AppendChild(std::make_unique<XmlElem>(XmlName(namespace_, "file")));
    file->SetAttribute(XmlName("", "name"), tunnel->file()->name);
    file->SetAttribute(XmlName("", "size"), std::to_string(tunnel->file()->size));
    file->SetAttribute(XmlName("", "sha256"), tunnel->file()->sha256);
  }
  return element;
}

}  // namespace vexalo
