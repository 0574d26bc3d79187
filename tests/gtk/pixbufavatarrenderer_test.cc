// Decoding pictures from the network: real formats scale, anything else, and pictures whose
// header promises too many pixels, give no picture (and so the default one) without decoding.
#include "ui/gtk/pixbufavatarrenderer.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vexalo {
namespace {

// A picture of one colour in `format`.
std::string Make(const char* format, int width, int height, uint32_t rgba) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
  gdk_pixbuf_fill(pixbuf, rgba);
  gchar* buffer = nullptr;
  gsize length = 0;
  EXPECT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, format, nullptr, nullptr));
  g_object_unref(pixbuf);
  std::string bytes(buffer, length);
  g_free(buffer);
  return bytes;
}

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFF;
  for (unsigned char c : bytes) {
    crc ^= c;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
  }
  return ~crc;
}

void PutBig32(std::string* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

// A valid small PNG whose header (with a correct checksum) claims width x height.
std::string PngClaiming(uint32_t width, uint32_t height) {
  std::string png = Make("png", 4, 4, 0xFF0000FF);
  PutBig32(&png, 16, width);
  PutBig32(&png, 20, height);
  PutBig32(&png, 29, Crc32(png.substr(12, 17)));  // over "IHDR" and its 13 bytes
  return png;
}

TEST(PixbufAvatarRendererTest, ScalesEachAcceptedFormatIntoASquare) {
  PixbufAvatarRenderer renderer;
  struct Case {
    const char* format;
    int width, height;
  };
  for (const Case& c : {Case{"png", 96, 96}, Case{"jpeg", 200, 100}, Case{"bmp", 10, 40}}) {
    SCOPED_TRACE(c.format);
    std::vector<uint32_t> pixels;
    ASSERT_TRUE(renderer.Scale(Make(c.format, c.width, c.height, 0x2060C0FF), 32, &pixels));
    ASSERT_EQ(pixels.size(), 32u * 32u);
    // The centre has the colour (JPEG is lossy); a wide or tall picture leaves clear margins.
    const uint32_t centre = pixels[16 * 32 + 16];
    EXPECT_EQ(centre >> 24, 0xFFu);
    EXPECT_NEAR(static_cast<int>((centre >> 16) & 0xFF), 0x20, 6);
    EXPECT_NEAR(static_cast<int>(centre & 0xFF), 0xC0, 6);
    const uint32_t corner = pixels[0];
    EXPECT_EQ(corner == 0, c.width != c.height);
  }
  // GIF has no encoder in gdk-pixbuf: a hand-made one-pixel GIF.
  const std::string gif(
      "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
      ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
      35);
  std::vector<uint32_t> pixels;
  ASSERT_TRUE(renderer.Scale(gif, 8, &pixels));
  EXPECT_EQ(pixels[0], 0xFFFF0000u);
}

TEST(PixbufAvatarRendererTest, RefusesWhatItShouldNotDecode) {
  PixbufAvatarRenderer renderer;
  const std::string png = Make("png", 8, 8, 0xFFFFFFFF);
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"text", "hello, not a picture"},
      {"svg", "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'/>"},
      {"xpm", "/* XPM */\nstatic char * x[] = {\"1 1 1 1\", \"a c #FF0000\", \"a\"};"},
      {"truncated png", png.substr(0, png.size() / 2)},
      {"png with garbage after its signature", png.substr(0, 8) + std::string(200, '\x55')},
      {"png claiming 60000x60000", PngClaiming(60000, 60000)},
      {"png one row over the limit", Make("png", 2048, 2049, 0xFF0000FF)},
      {"tiff", Make("tiff", 4, 4, 0xFF0000FF)},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> pixels;
    EXPECT_FALSE(renderer.Scale(c.bytes, 32, &pixels)) << c.what;
  }
  // Sizes the caller may not ask for.
  std::vector<uint32_t> pixels;
  EXPECT_FALSE(renderer.Scale(png, 0, &pixels));
  EXPECT_FALSE(renderer.Scale(png, PixbufAvatarRenderer::kMaxSize + 1, &pixels));
  // The largest accepted picture still decodes.
  EXPECT_TRUE(renderer.Scale(Make("png", 2048, 2048, 0xFF0000FF), 32, &pixels));
}

TEST(PixbufAvatarRendererTest, EncodedPngDecodesToTheSamePixels) {
  PixbufAvatarRenderer renderer;
  std::vector<uint32_t> pixels(4 * 4);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = 0xFF000000u | static_cast<uint32_t>(i * 0x101010);
  pixels[5] = 0x80402010;  // half transparent
  std::string png;
  ASSERT_TRUE(renderer.EncodePng(pixels, 4, 4, &png));
  std::vector<uint32_t> back;
  ASSERT_TRUE(renderer.Scale(png, 4, &back));
  EXPECT_EQ(back, pixels);
  EXPECT_FALSE(renderer.EncodePng(pixels, 5, 4, &png));
}

}  // namespace
}  // namespace vexalo
