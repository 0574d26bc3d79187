#include "xml/xmlelem.h"

#include <utility>

namespace vexalo {
namespace {

const std::string& EmptyString() {
  static const std::string* empty = new std::string;
  return *empty;
}

}  // namespace

XmlElem::XmlElem(const XmlName& name) : name_(name) {}

XmlElem::XmlElem(const XmlName& name, bool declare_namespace) : name_(name) {
  if (declare_namespace) AppendAttribute(kQnXmlns, name.NamespaceUri());
}

XmlElem::XmlElem(const XmlElem& other) : XmlNode(), name_(other.name_) {
  for (const XmlAttribute* attr = other.first_attr_; attr != nullptr; attr = attr->next_) {
    AppendAttribute(attr->name_, attr->value_);
  }
  for (const XmlNode* node = other.first_child_; node != nullptr; node = node->next_) {
    if (const XmlTextNode* text = node->ToText()) {
      AppendChild(std::unique_ptr<XmlNode>(new XmlTextNode(text->text_)));
    } else {
      AppendChild(std::unique_ptr<XmlNode>(new XmlElem(*node->ToElement())));
    }
  }
}

XmlElem::~XmlElem() {
  // Lists are freed in a loop: a long sibling list must not become a deep recursion.
  XmlAttribute* attr = first_attr_;
  while (attr != nullptr) {
    XmlAttribute* next = attr->next_;
    delete attr;
    attr = next;
  }
  RemoveAllChildren();
}

const std::string& XmlElem::GetAttribute(const XmlName& name) const {
  for (const XmlAttribute* attr = first_attr_; attr != nullptr; attr = attr->next_) {
    if (attr->name_ == name) return attr->value_;
  }
  return EmptyString();
}

bool XmlElem::HasAttribute(const XmlName& name) const {
  for (const XmlAttribute* attr = first_attr_; attr != nullptr; attr = attr->next_) {
    if (attr->name_ == name) return true;
  }
  return false;
}

void XmlElem::SetAttribute(const XmlName& name, std::string_view value) {
  for (XmlAttribute* attr = first_attr_; attr != nullptr; attr = attr->next_) {
    if (attr->name_ == name) {
      attr->value_.assign(value);
      return;
    }
  }
  AppendAttribute(name, value);
}

void XmlElem::AppendAttribute(const XmlName& name, std::string_view value) {
  auto* attr = new XmlAttribute(name, value);
  if (last_attr_ == nullptr) {
    first_attr_ = attr;
  } else {
    last_attr_->next_ = attr;
  }
  last_attr_ = attr;
}

bool XmlElem::AppendAttribute(const XmlName& name, std::string_view value, int depth) {
  XmlElem* target = DescendLast(depth);
  if (target == nullptr) return false;
  target->AppendAttribute(name, value);
  return true;
}

void XmlElem::RemoveAttribute(const XmlName& name) {
  XmlAttribute* previous = nullptr;
  for (XmlAttribute* attr = first_attr_; attr != nullptr; previous = attr, attr = attr->next_) {
    if (attr->name_ != name) continue;
    if (previous == nullptr) {
      first_attr_ = attr->next_;
    } else {
      previous->next_ = attr->next_;
    }
    if (last_attr_ == attr) last_attr_ = previous;
    delete attr;
    return;
  }
}

XmlElem* XmlElem::FirstChildElement() const {
  for (XmlNode* node = first_child_; node != nullptr; node = node->next_) {
    if (XmlElem* elem = node->ToElement()) return elem;
  }
  return nullptr;
}

XmlElem* XmlElem::NextSiblingElement() const {
  for (XmlNode* node = NextNode(); node != nullptr; node = node->next_) {
    if (XmlElem* elem = node->ToElement()) return elem;
  }
  return nullptr;
}

XmlElem* XmlElem::FindChild(const XmlName& name) const {
  for (XmlNode* node = first_child_; node != nullptr; node = node->next_) {
    XmlElem* elem = node->ToElement();
    if (elem != nullptr && elem->name_ == name) return elem;
  }
  return nullptr;
}

XmlElem* XmlElem::FindNextSibling(const XmlName& name) const {
  for (XmlNode* node = NextNode(); node != nullptr; node = node->next_) {
    XmlElem* elem = node->ToElement();
    if (elem != nullptr && elem->name_ == name) return elem;
  }
  return nullptr;
}

XmlElem* XmlElem::FindChildInNamespace(std::string_view namespace_uri) const {
  for (XmlNode* node = first_child_; node != nullptr; node = node->next_) {
    XmlElem* elem = node->ToElement();
    if (elem != nullptr && elem->name_.NamespaceUri() == namespace_uri) return elem;
  }
  return nullptr;
}

const std::string& XmlElem::ChildText(const XmlName& name) const {
  const XmlElem* child = FindChild(name);
  return child == nullptr ? EmptyString() : child->OnlyText();
}

const std::string& XmlElem::OnlyText() const {
  if (first_child_ == nullptr || first_child_ != last_child_) return EmptyString();
  const XmlTextNode* text = first_child_->ToText();
  return text == nullptr ? EmptyString() : text->text_;
}

void XmlElem::ReplaceText(std::string_view text) {
  if (!text.empty() && first_child_ != nullptr && first_child_ == last_child_) {
    if (XmlTextNode* only = first_child_->ToText()) {
      only->text_.assign(text);
      return;
    }
  }
  RemoveAllChildren();
  AppendText(text);
}

void XmlElem::AppendText(std::string_view text) {
  if (text.empty()) return;
  if (last_child_ != nullptr) {
    if (XmlTextNode* last = last_child_->ToText()) {
      last->text_.append(text);
      return;
    }
  }
  AppendChild(std::unique_ptr<XmlNode>(new XmlTextNode(text)));
}

bool XmlElem::AppendText(std::string_view text, int depth) {
  XmlElem* target = DescendLast(depth);
  if (target == nullptr) return false;
  target->AppendText(text);
  return true;
}

void XmlElem::AppendChild(std::unique_ptr<XmlNode> child) {
  if (child == nullptr) return;
  XmlNode* node = child.release();
  if (last_child_ == nullptr) {
    first_child_ = node;
  } else {
    last_child_->next_ = node;
  }
  last_child_ = node;
}

XmlElem* XmlElem::AppendChild(std::unique_ptr<XmlElem> child) {
  XmlElem* elem = child.get();
  AppendChild(std::unique_ptr<XmlNode>(std::move(child)));
  return elem;
}

bool XmlElem::AppendChild(std::unique_ptr<XmlNode> child, int depth) {
  XmlElem* target = DescendLast(depth);
  if (target == nullptr) return false;
  target->AppendChild(std::move(child));
  return true;
}

void XmlElem::RemoveAllChildren() {
  XmlNode* node = first_child_;
  first_child_ = nullptr;
  last_child_ = nullptr;
  while (node != nullptr) {
    XmlNode* next = node->next_;
    delete node;
    node = next;
  }
}

XmlElem* XmlElem::DescendLast(int depth) {
  XmlElem* elem = this;
  for (int i = 0; i < depth; ++i) {
    if (elem->last_child_ == nullptr) return nullptr;
    elem = elem->last_child_->ToElement();
    if (elem == nullptr) return nullptr;
  }
  return elem;
}

}  // namespace vexalo
