#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "xml/xmlname.h"

namespace vexalo {

class XmlElem;
class XmlTextNode;

// A child of an element: another element or a run of text. Siblings form a singly linked list
// owned by the parent.
class XmlNode {
 public:
  XmlNode() = default;
  XmlNode(const XmlNode&) = delete;
  XmlNode& operator=(const XmlNode&) = delete;
  virtual ~XmlNode() = default;

  virtual bool IsTextNode() const = 0;
  virtual XmlElem* ToElement() = 0;
  virtual const XmlElem* ToElement() const = 0;
  virtual XmlTextNode* ToText() = 0;
  virtual const XmlTextNode* ToText() const = 0;

  XmlNode* NextNode() const { return next_; }

 private:
  friend class XmlElem;
  XmlNode* next_ = nullptr;
};

// Text, stored unescaped (UTF-8).
class XmlTextNode final : public XmlNode {
 public:
  explicit XmlTextNode(std::string_view text) : text_(text) {}

  bool IsTextNode() const override { return true; }
  XmlElem* ToElement() override { return nullptr; }
  const XmlElem* ToElement() const override { return nullptr; }
  XmlTextNode* ToText() override { return this; }
  const XmlTextNode* ToText() const override { return this; }

  const std::string& Text() const { return text_; }
  void SetText(std::string_view text) { text_.assign(text); }

 private:
  friend class XmlElem;
  std::string text_;
};

// An attribute, value stored unescaped.
class XmlAttribute {
 public:
  XmlAttribute(const XmlName& name, std::string_view value) : name_(name), value_(value) {}
  XmlAttribute(const XmlAttribute&) = delete;
  XmlAttribute& operator=(const XmlAttribute&) = delete;

  const XmlName& Name() const { return name_; }
  const std::string& Value() const { return value_; }
  XmlAttribute* NextAttribute() const { return next_; }

 private:
  friend class XmlElem;
  XmlAttribute* next_ = nullptr;
  XmlName name_;
  std::string value_;
};

// An element: a name, attributes in insertion order and children in document order, all owned.
// Every stanza is built and inspected as one of these trees.
class XmlElem final : public XmlNode {
 public:
  explicit XmlElem(const XmlName& name);
  // With `declare_namespace`, starts with an "xmlns" attribute holding the name's namespace,
  // so that printing declares it as the default namespace here.
  XmlElem(const XmlName& name, bool declare_namespace);
  // Deep copy of attributes and children.
  XmlElem(const XmlElem& other);
  XmlElem& operator=(const XmlElem&) = delete;
  ~XmlElem() override;

  bool IsTextNode() const override { return false; }
  XmlElem* ToElement() override { return this; }
  const XmlElem* ToElement() const override { return this; }
  XmlTextNode* ToText() override { return nullptr; }
  const XmlTextNode* ToText() const override { return nullptr; }

  const XmlName& Name() const { return name_; }

  // The first attribute of that name, or the empty string (see HasAttribute).
  const std::string& GetAttribute(const XmlName& name) const;
  bool HasAttribute(const XmlName& name) const;
  // Replaces the first attribute of that name, or appends one.
  void SetAttribute(const XmlName& name, std::string_view value);
  // Appends without looking for an existing attribute of that name.
  void AppendAttribute(const XmlName& name, std::string_view value);
  // The "depth" forms act on the last child, `depth` levels down; a builder extends what it
  // added last without keeping a pointer. False (and nothing done) when that element is missing.
  bool AppendAttribute(const XmlName& name, std::string_view value, int depth);
  void RemoveAttribute(const XmlName& name);
  XmlAttribute* FirstAttribute() const { return first_attr_; }

  XmlNode* FirstNode() const { return first_child_; }
  XmlNode* LastNode() const { return last_child_; }
  XmlElem* FirstChildElement() const;
  // The next following sibling that is an element.
  XmlElem* NextSiblingElement() const;
  XmlElem* FindChild(const XmlName& name) const;
  XmlElem* FindNextSibling(const XmlName& name) const;
  XmlElem* FindChildInNamespace(std::string_view namespace_uri) const;

  // OnlyText of FindChild(name), or empty.
  const std::string& ChildText(const XmlName& name) const;
  // The text of the only child when that child is text; otherwise empty.
  const std::string& OnlyText() const;
  // Empty text removes all children; otherwise the element ends up with just this text.
  void ReplaceText(std::string_view text);
  // Merges with a trailing text child; empty text is ignored.
  void AppendText(std::string_view text);
  bool AppendText(std::string_view text, int depth);
  void AppendRawText(const char* bytes, size_t length) {
    AppendText(std::string_view(bytes, length));
  }

  // Takes ownership; null is ignored. The element form returns the appended element, for
  // builders.
  void AppendChild(std::unique_ptr<XmlNode> child);
  XmlElem* AppendChild(std::unique_ptr<XmlElem> child);
  bool AppendChild(std::unique_ptr<XmlNode> child, int depth);
  void RemoveAllChildren();

  // One complete document; null when it is not a single well-formed element (see
  // XmlStreamParser for the rules).
  static std::unique_ptr<XmlElem> ParseFromString(std::string_view text);

 private:
  // The last child `depth` levels down, when each step is an element.
  XmlElem* DescendLast(int depth);

  XmlName name_;
  XmlAttribute* first_attr_ = nullptr;
  XmlAttribute* last_attr_ = nullptr;
  XmlNode* first_child_ = nullptr;
  XmlNode* last_child_ = nullptr;
};

}  // namespace vexalo
