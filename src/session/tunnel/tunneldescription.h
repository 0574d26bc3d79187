#pragma once

#include <optional>
#include <string>
#include <utility>

#include "p2p/client/sessiondescription.h"
#include "session/tunnel/fileoffer.h"

namespace vexalo {

// What a tunnel session negotiates: the kind of stream, and for a file transfer the file.
class TunnelDescription : public SessionDescription {
 public:
  explicit TunnelDescription(std::string type, std::optional<FileOffer> file = std::nullopt)
      : type_(std::move(type)), file_(std::move(file)) {}

  const std::string& type() const { return type_; }
  const std::optional<FileOffer>& file() const { return file_; }

 private:
  std::string type_;
  std::optional<FileOffer> file_;
};

}  // namespace vexalo
