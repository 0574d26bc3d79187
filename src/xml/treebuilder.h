#pragma once

#include <memory>
#include <vector>

#include "xml/xmlelem.h"
#include "xml/xmlstreamparser.h"

namespace vexalo {

// Builds one element tree from parse events.
class TreeBuilder : public ParseHandler {
 public:
  TreeBuilder() = default;
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;
  ~TreeBuilder() override = default;

  // The element for a start event, names resolved and checked: every prefix declared, no
  // namespaced attribute twice. On failure raises the error on `context` and returns null.
  static std::unique_ptr<XmlElem> BuildElement(ParseContext& context, const char* raw_name,
                                               const char** raw_attributes);

  // The finished (or partial) tree; the builder is empty afterwards.
  std::unique_ptr<XmlElem> TakeRoot();
  void Clear();

  void StartElement(ParseContext& context, const char* raw_name,
                    const char** raw_attributes) override;
  void EndElement(ParseContext& context, const char* raw_name) override;
  void CharacterData(ParseContext& context, const char* bytes, int length) override;
  void Error(ParseContext& context, const XmlError& error) override;

 private:
  std::unique_ptr<XmlElem> root_;
  XmlElem* current_ = nullptr;
  // The enclosing element of each open element; null for the root's level.
  std::vector<XmlElem*> parents_;
};

}  // namespace vexalo
