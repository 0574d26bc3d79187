#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xmpp/vcard/avatarrenderer.h"

namespace vexalo {

// Pictures through gdk-pixbuf, with bounds for pictures from the network: only PNG, JPEG, GIF
// and BMP (told by their first bytes, so no other loader ever sees the data), and no picture
// whose header promises more than kMaxPixels, which is refused before its pixels are decoded.
class PixbufAvatarRenderer : public AvatarRenderer {
 public:
  // 2048 x 2048: far more than any avatar needs, 16 MiB decoded at most.
  static constexpr int64_t kMaxPixels = 2048 * 2048;
  static constexpr int kMaxSize = 1024;

  // The loader type for the picture's first bytes; null for anything else.
  static const char* FormatOf(std::string_view picture);

  // Scales to size x size, keeping the aspect ratio and centring on a transparent square.
  bool Scale(std::string_view picture, int size, std::vector<uint32_t>* pixels) override;
  bool EncodePng(const std::vector<uint32_t>& pixels, int width, int height,
                 std::string* png) override;
};

}  // namespace vexalo
