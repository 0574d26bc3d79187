#pragma once

#include <gdk/gdk.h>

#include <string>
#include <unordered_map>

#include "ui/gtk/pixbufavatarrenderer.h"
#include "xmpp/vcard/avatarcache.h"

namespace vexalo {

// The picture cache on disk and the pictures made from it for the window, decoded once per
// picture and size. A picture that is missing or cannot be decoded has no texture: the window
// then shows the default picture (initials on a colour of the name's own).
class AvatarPictures {
 public:
  // The cache's folder; created when missing.
  explicit AvatarPictures(std::string folder);
  ~AvatarPictures();
  AvatarPictures(const AvatarPictures&) = delete;
  AvatarPictures& operator=(const AvatarPictures&) = delete;

  // Where pictures live for the user: the data directory's "vexalo/avatars".
  static std::string DefaultFolder();

  // Null when the folder could not be made (the window then shows default pictures only).
  AvatarCache* cache() { return open_ ? &cache_ : nullptr; }
  // The picture `hash` at size x size device pixels; null for none. Owned here.
  GdkTexture* Texture(const std::string& hash, int size);

 private:
  PixbufAvatarRenderer renderer_;
  AvatarCache cache_;
  bool open_;
  // By size and hash; null remembers a picture that could not be decoded.
  std::unordered_map<std::string, GdkTexture*> textures_;
};

}  // namespace vexalo
