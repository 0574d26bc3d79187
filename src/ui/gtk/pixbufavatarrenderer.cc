#include "ui/gtk/pixbufavatarrenderer.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>

#include "base/runtime/logging.h"
#include "xmpp/vcard/avatarhash.h"

namespace vexalo {
namespace {

// Feeding in pieces lets the header's size be seen, and refused, before the image data.
constexpr size_t kChunkBytes = 4096;

struct SizeCheck {
  bool too_large = false;
};

void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
  auto* check = static_cast<SizeCheck*>(data);
  if (width <= 0 || height <= 0 ||
      static_cast<int64_t>(width) * height > PixbufAvatarRenderer::kMaxPixels) {
    check->too_large = true;
    // A zero size tells the image module to stop before it allocates the pixels.
    gdk_pixbuf_loader_set_size(loader, 0, 0);
  }
}

// Decodes the whole picture, or null.
GdkPixbuf* Decode(std::string_view picture) {
  const char* format = PixbufAvatarRenderer::FormatOf(picture);
  if (format == nullptr || picture.size() > kMaxAvatarBytes) return nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(format, nullptr);
  if (loader == nullptr) return nullptr;
  SizeCheck check;
  g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &check);
  bool ok = true;
  for (size_t at = 0; ok && at < picture.size() && !check.too_large; at += kChunkBytes) {
    const size_t n = std::min(kChunkBytes, picture.size() - at);
    ok = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(picture.data() + at), n,
                                 nullptr) != FALSE;
  }
  ok = gdk_pixbuf_loader_close(loader, nullptr) != FALSE && ok && !check.too_large;
  GdkPixbuf* pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pixbuf != nullptr) g_object_ref(pixbuf);
  g_signal_handlers_disconnect_by_data(loader, &check);
  g_object_unref(loader);
  if (check.too_large) {
    LOG(kWarning) << "Picture of " << picture.size() << " bytes is too large to show";
  }
  return pixbuf;
}

}  // namespace

const char* PixbufAvatarRenderer::FormatOf(std::string_view picture) {
  auto starts = [picture](std::string_view magic) {
    return picture.substr(0, magic.size()) == magic;
  };
  if (starts("\x89PNG\r\n\x1a\n")) return "png";
  if (starts("\xff\xd8\xff")) return "jpeg";
  if (starts("GIF87a") || starts("GIF89a")) return "gif";
  if (starts("BM")) return "bmp";
  return nullptr;
}

bool PixbufAvatarRenderer::Scale(std::string_view picture, int size,
                                 std::vector<uint32_t>* pixels) {
  if (size <= 0 || size > kMaxSize) return false;
  GdkPixbuf* original = Decode(picture);
  if (original == nullptr) return false;
  GdkPixbuf* rgba = gdk_pixbuf_add_alpha(original, FALSE, 0, 0, 0);
  g_object_unref(original);
  if (rgba == nullptr) return false;
  const int width = gdk_pixbuf_get_width(rgba);
  const int height = gdk_pixbuf_get_height(rgba);
  // The longer side fills the square.
  const int scaled_width = std::max(1, width >= height ? size : width * size / height);
  const int scaled_height = std::max(1, height >= width ? size : height * size / width);
  GdkPixbuf* scaled =
      gdk_pixbuf_scale_simple(rgba, scaled_width, scaled_height, GDK_INTERP_BILINEAR);
  g_object_unref(rgba);
  if (scaled == nullptr) return false;
  pixels->assign(static_cast<size_t>(size) * size, 0);
  const int left = (size - scaled_width) / 2;
  const int top = (size - scaled_height) / 2;
  const int stride = gdk_pixbuf_get_rowstride(scaled);
  const guchar* bytes = gdk_pixbuf_read_pixels(scaled);
  for (int y = 0; y < scaled_height; ++y) {
    for (int x = 0; x < scaled_width; ++x) {
      const guchar* p = bytes + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4;
      (*pixels)[static_cast<size_t>(top + y) * size + left + x] =
          (uint32_t{p[3]} << 24) | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    }
  }
  g_object_unref(scaled);
  return true;
}

bool PixbufAvatarRenderer::EncodePng(const std::vector<uint32_t>& pixels, int width, int height,
                                     std::string* png) {
  if (width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * height) {
    return false;
  }
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
  if (pixbuf == nullptr) return false;
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  guchar* bytes = gdk_pixbuf_get_pixels(pixbuf);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint32_t argb = pixels[static_cast<size_t>(y) * width + x];
      guchar* p = bytes + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4;
      p[0] = static_cast<guchar>(argb >> 16);
      p[1] = static_cast<guchar>(argb >> 8);
      p[2] = static_cast<guchar>(argb);
      p[3] = static_cast<guchar>(argb >> 24);
    }
  }
  gchar* buffer = nullptr;
  gsize length = 0;
  const bool ok = gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, "png", nullptr, nullptr);
  g_object_unref(pixbuf);
  if (ok) png->assign(buffer, length);
  g_free(buffer);
  return ok;
}

}  // namespace vexalo
