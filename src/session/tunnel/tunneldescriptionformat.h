#pragma once

#include <memory>
#include <string>

#include "p2p/client/descriptionformat.h"

namespace vexalo {

// The tunnel namespace's "description": a "type" child naming the kind of stream and, for a
// file transfer, our own "file" child with the file's name, size and SHA-256.
class TunnelDescriptionFormat : public DescriptionFormat {
 public:
  static constexpr size_t kMaxTypeLength = 256;
  static constexpr size_t kMaxFileNameLength = 1024;

  explicit TunnelDescriptionFormat(std::string tunnel_namespace);

  const std::string& description_namespace() const override { return namespace_; }
  // Null without a "type" child, or with a "file" child that is not well formed.
  std::shared_ptr<const SessionDescription> ParseDescription(const XmlElem& element) override;
  std::unique_ptr<XmlElem> WriteDescription(const SessionDescription& description) override;

 private:
  std::string namespace_;
};

}  // namespace vexalo
