#include "xml/treebuilder.h"

#include <algorithm>
#include <utility>

namespace vexalo {
namespace {

// Plain XML already refuses the same raw name twice; two prefixes bound to one namespace can
// still name one attribute twice. Sorted, so that a hostile element with thousands of
// attributes costs n log n.
bool HasDuplicateNamespacedAttribute(const XmlElem& element) {
  std::vector<const XmlName*> names;
  for (const XmlAttribute* attr = element.FirstAttribute(); attr != nullptr;
       attr = attr->NextAttribute()) {
    if (!attr->Name().NamespaceUri().empty()) names.push_back(&attr->Name());
  }
  if (names.size() < 2) return false;
  std::sort(names.begin(), names.end(), [](const XmlName* a, const XmlName* b) { return *a < *b; });
  return std::adjacent_find(names.begin(), names.end(), [](const XmlName* a, const XmlName* b) {
           return *a == *b;
         }) != names.end();
}

}  // namespace

std::unique_ptr<XmlElem> TreeBuilder::BuildElement(ParseContext& context, const char* raw_name,
                                                   const char** raw_attributes) {
  XmlName name = context.ResolveName(raw_name, false);
  if (name.LocalName().empty()) {
    context.RaiseError(XmlErrorKind::kBadNamespacePrefix);
    return nullptr;
  }
  auto element = std::make_unique<XmlElem>(name);
  int namespaced = 0;
  for (const char** attr = raw_attributes; *attr != nullptr; attr += 2) {
    XmlName attr_name = context.ResolveName(attr[0], true);
    if (attr_name.LocalName().empty()) {
      context.RaiseError(XmlErrorKind::kBadNamespacePrefix);
      return nullptr;
    }
    if (!attr_name.NamespaceUri().empty()) ++namespaced;
    element->AppendAttribute(attr_name, attr[1]);
  }
  if (namespaced > 1 && HasDuplicateNamespacedAttribute(*element)) {
    context.RaiseError(XmlErrorKind::kNotWellFormed);
    return nullptr;
  }
  return element;
}

std::unique_ptr<XmlElem> TreeBuilder::TakeRoot() {
  current_ = nullptr;
  parents_.clear();
  return std::move(root_);
}

void TreeBuilder::Clear() {
  root_.reset();
  current_ = nullptr;
  parents_.clear();
}

void TreeBuilder::StartElement(ParseContext& context, const char* raw_name,
                               const char** raw_attributes) {
  std::unique_ptr<XmlElem> element = BuildElement(context, raw_name, raw_attributes);
  if (element == nullptr) return;
  XmlElem* added = element.get();
  if (current_ != nullptr) {
    current_->AppendChild(std::move(element));
    parents_.push_back(current_);
  } else {
    root_ = std::move(element);
    parents_.push_back(nullptr);
  }
  current_ = added;
}

void TreeBuilder::EndElement(ParseContext&, const char*) {
  if (parents_.empty()) return;
  current_ = parents_.back();
  parents_.pop_back();
}

void TreeBuilder::CharacterData(ParseContext&, const char* bytes, int length) {
  if (current_ != nullptr && length > 0) {
    current_->AppendRawText(bytes, static_cast<size_t>(length));
  }
}

void TreeBuilder::Error(ParseContext&, const XmlError&) { Clear(); }

std::unique_ptr<XmlElem> XmlElem::ParseFromString(std::string_view text) {
  TreeBuilder builder;
  XmlStreamParser parser(&builder);
  if (!parser.Parse(text.data(), text.size(), true)) return nullptr;
  return builder.TakeRoot();
}

}  // namespace vexalo
