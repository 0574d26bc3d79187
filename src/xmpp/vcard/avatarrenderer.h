#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexalo {

// Image decoding and encoding for the picture cache, supplied by the platform layer (the XMPP
// library reads no image formats itself).
class AvatarRenderer {
 public:
  virtual ~AvatarRenderer() = default;
  // The picture scaled to size x size: pixels as 0xAARRGGBB, rows top to bottom. False when
  // the bytes are not a picture it can read.
  virtual bool Scale(std::string_view picture, int size, std::vector<uint32_t>* pixels) = 0;
  // The pixels as PNG; false when it cannot encode them.
  virtual bool EncodePng(const std::vector<uint32_t>& pixels, int width, int height,
                         std::string* png) = 0;
};

}  // namespace vexalo
