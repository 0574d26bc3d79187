#include "ui/gtk/avatarpictures.h"

#include <glib.h>

#include <vector>

namespace vexalo {

AvatarPictures::AvatarPictures(std::string folder)
    : cache_(std::move(folder), &renderer_), open_(cache_.Open()) {}

AvatarPictures::~AvatarPictures() {
  for (auto& [key, texture] : textures_) {
    if (texture != nullptr) g_object_unref(texture);
  }
}

std::string AvatarPictures::DefaultFolder() {
  gchar* path = g_build_filename(g_get_user_data_dir(), "vexalo", "avatars", nullptr);
  std::string folder(path);
  g_free(path);
  return folder;
}

GdkTexture* AvatarPictures::Texture(const std::string& hash, int size) {
  if (!open_ || hash.empty()) return nullptr;
  const std::string key = std::to_string(size) + ":" + hash;
  const auto found = textures_.find(key);
  if (found != textures_.end()) return found->second;
  GdkTexture* texture = nullptr;
  std::vector<uint32_t> pixels;
  // The small rendition serves the list; larger sizes start from the original.
  const bool scaled = (size <= AvatarCache::kOnlineSize &&
                       renderer_.Scale(cache_.LoadOnline(hash), size, &pixels)) ||
                      renderer_.Scale(cache_.LoadOriginal(hash), size, &pixels);
  if (scaled) {
    // 0xAARRGGBB in native order is B, G, R, A in memory on little-endian machines.
    GBytes* bytes = g_bytes_new(pixels.data(), pixels.size() * sizeof(uint32_t));
    texture = gdk_memory_texture_new(
        size, size, G_BYTE_ORDER == G_LITTLE_ENDIAN ? GDK_MEMORY_B8G8R8A8 : GDK_MEMORY_A8R8G8B8,
        bytes, static_cast<gsize>(size) * sizeof(uint32_t));
    g_bytes_unref(bytes);
  }
  textures_.emplace(key, texture);
  return texture;
}

}  // namespace vexalo
