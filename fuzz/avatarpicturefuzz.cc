// Decodes arbitrary bytes as a contact's picture. Nothing may crash or allocate without
// bound; whatever decodes gives exactly the asked square of pixels.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "ui/gtk/pixbufavatarrenderer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vexalo::PixbufAvatarRenderer renderer;
  std::vector<uint32_t> pixels;
  const std::string_view picture(reinterpret_cast<const char*>(data), size);
  if (renderer.Scale(picture, 32, &pixels) && pixels.size() != 32u * 32u) abort();
  return 0;
}
