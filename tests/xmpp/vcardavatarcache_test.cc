// The picture cache on disk: names by hash only, renditions, the index and recent-pictures
// files, clean-up, and the limit on failed requests.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/runtime/logging.h"
#include "xmpp/vcard/avatarcache.h"
#include "xmpp/vcard/avatarhash.h"

namespace vexalo {
namespace {

// Stands in for the platform's image library: any picture starting with "IMG" becomes a
// solid square of its fourth byte; PNG encoding works only when asked to.
class SolidRenderer : public AvatarRenderer {
 public:
  bool Scale(std::string_view picture, int size, std::vector<uint32_t>* pixels) override {
    if (!picture.starts_with("IMG") || picture.size() < 4) return false;
    pixels->assign(static_cast<size_t>(size) * size,
                   0xFF000000u | static_cast<uint8_t>(picture[3]));
    return true;
  }
  bool EncodePng(const std::vector<uint32_t>& pixels, int, int, std::string* png) override {
    if (!png_works) return false;
    *png = "PNG:" + std::to_string(pixels.size());
    return true;
  }
  bool png_works = true;
};

class AvatarCacheTest : public ::testing::Test {
 protected:
  AvatarCacheTest() {
    char pattern[] = "/tmp/vexalo-avatars-XXXXXX";
    root_ = mkdtemp(pattern);
    folder_ = root_ + "/cache/vexalo";
  }
  ~AvatarCacheTest() override { std::filesystem::remove_all(root_); }

  std::string Read(const std::string& name) const {
    std::ifstream in(folder_ + "/" + name, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(folder_ + "/" + name, std::ios::binary) << text;
  }
  bool Exists(const std::string& name) const {
    return std::filesystem::exists(folder_ + "/" + name);
  }

  std::string root_;
  std::string folder_;
  SolidRenderer renderer_;
};

TEST_F(AvatarCacheTest, StoresByHashInAPrivateFolder) {
  AvatarCache cache(folder_, &renderer_);
  ASSERT_TRUE(cache.Open());
  struct stat info;
  ASSERT_EQ(stat(folder_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  const std::string picture = "IMG\x7f and more";
  const std::string hash = cache.StoreOriginal(picture);
  EXPECT_EQ(hash, AvatarHash(picture));
  EXPECT_EQ(Read(hash + ".original.avatar"), picture);
  EXPECT_EQ(cache.LoadOriginal(hash), picture);
  EXPECT_EQ(cache.LoadOriginal(NormalizeAvatarHash(hash)), picture);
  EXPECT_EQ(cache.LoadOnline(hash), "PNG:1024");
  EXPECT_TRUE(cache.HasOriginal(hash));
  ASSERT_EQ(stat((folder_ + "/" + hash + ".original.avatar").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // Anything but a hash never reaches the file system.
  Write("secret", "do not read");
  for (const char* name :
       {"secret", "../vexalo/secret", "", "a9993e364706816aba3e25717850c26c9cd0d89"}) {
    EXPECT_EQ(cache.LoadOriginal(name), "") << name;
    EXPECT_EQ(cache.LoadOnline(name), "") << name;
    EXPECT_FALSE(cache.HasOriginal(name)) << name;
  }
  EXPECT_EQ(cache.LoadOriginal("a9993e364706816aba3e25717850c26c9cd0d89d"), "");
}

TEST_F(AvatarCacheTest, RenditionFallsBackToBmpAndIsSkippedForNonPictures) {
  renderer_.png_works = false;
  AvatarCache cache(folder_, &renderer_);
  ASSERT_TRUE(cache.Open());
  const std::string hash = cache.StoreOriginal("IMG\x42");
  const std::string bmp = cache.LoadOnline(hash);
  ASSERT_EQ(bmp.size(), 54u + 4 * 32 * 32);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(static_cast<uint8_t>(bmp[2]) | static_cast<uint8_t>(bmp[3]) << 8, 54 + 4 * 32 * 32);
  EXPECT_EQ(bmp[10], 54);
  EXPECT_EQ(bmp[14], 40);
  EXPECT_EQ(bmp[26], 1);                                             // planes
  EXPECT_EQ(bmp[28], 32);                                            // bits per pixel
  EXPECT_EQ(bmp.substr(54, 4), std::string("\x42\x00\x00\xff", 4));  // B, G, R, A

  // Not a picture: the original is kept, no rendition.
  const std::string other = cache.StoreOriginal("plain text");
  EXPECT_FALSE(other.empty());
  EXPECT_EQ(cache.LoadOnline(other), "");
  // No renderer at all: the same.
  AvatarCache bare(folder_, nullptr);
  EXPECT_EQ(bare.LoadOnline(bare.StoreOriginal("IMG\x01")), "");
}

TEST_F(AvatarCacheTest, BmpRowsAreBottomUp) {
  const std::string bmp = AvatarCache::EncodeBmp({0x01, 0x02, 0x03, 0x04}, 2, 2);
  ASSERT_EQ(bmp.size(), 54u + 16);
  EXPECT_EQ(bmp[54], 0x03);
  EXPECT_EQ(bmp[58], 0x04);
  EXPECT_EQ(bmp[62], 0x01);
  EXPECT_EQ(AvatarCache::EncodeBmp({1, 2, 3}, 2, 2), "");
}

TEST_F(AvatarCacheTest, RefusesOversizedPicturesAndLogsNoPictureBytes) {
  AvatarCache cache(folder_, &renderer_);
  ASSERT_TRUE(cache.Open());
  std::vector<std::string> lines;
  SetLogConsoleSink([&](std::string_view line) { lines.emplace_back(line); });
  LogToDebug(kSensitive);
  const std::string huge = "IMG" + std::string(kMaxAvatarBytes, 'Q');
  EXPECT_EQ(cache.StoreOriginal(huge), "");
  // A picture put there by someone else, larger than we read.
  Write(AvatarHash(huge) + ".original.avatar", huge);
  EXPECT_EQ(cache.LoadOriginal(AvatarHash(huge)), "");
  // A folder that cannot be written.
  AvatarCache broken(root_ + "/missing/folder", &renderer_);
  EXPECT_EQ(broken.StoreOriginal("IMGsecret-picture-bytes"), "");
  ResetLogging();
  SetLogConsoleSink(nullptr);
  ASSERT_FALSE(lines.empty());
  bool hash_logged = false;
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("QQQQ"), std::string::npos);
    EXPECT_EQ(line.find("secret-picture"), std::string::npos);
    hash_logged |= line.find(AvatarHash("IMGsecret-picture-bytes")) != std::string::npos;
  }
  EXPECT_TRUE(hash_logged);
}

TEST_F(AvatarCacheTest, GivesUpOnAHashAfterTheFourthFailure) {
  AvatarCache cache(folder_, nullptr);
  const std::string hash = "a9993e364706816aba3e25717850c26c9cd0d89d";
  EXPECT_TRUE(cache.ShouldRequest(hash));
  for (int i = 0; i < 3; ++i) cache.RecordFailure(hash);
  EXPECT_TRUE(cache.ShouldRequest(hash));
  cache.RecordFailure(hash);
  EXPECT_FALSE(cache.ShouldRequest(hash));
  EXPECT_TRUE(cache.ShouldRequest("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
}

TEST_F(AvatarCacheTest, IndexReadsWholePairsOnly) {
  AvatarCache cache(folder_, nullptr);
  ASSERT_TRUE(cache.Open());
  const std::string a = "a9993e364706816aba3e25717850c26c9cd0d89d";
  const std::string b = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
  Write("avatars.txt", "bob@example.net\n" + a + "\r\n" + "carol@example.net\nnot-a-hash\n" +
                           "@@\n" + b + "\n" + "Dave@Example.net\n" + b + "\n" +
                           "eve@example.net\n");
  AvatarCache::Index index = cache.LoadIndex();
  EXPECT_EQ(index, (AvatarCache::Index{{"bob@example.net", a}, {"dave@example.net", b}}));

  index["frank@example.net"] = b;
  index["bad\nline@example.net"] = b;
  ASSERT_TRUE(cache.SaveIndex(index));
  index.erase("bad\nline@example.net");
  EXPECT_EQ(cache.LoadIndex(), index);
}

TEST_F(AvatarCacheTest, RecentPicturesOfTheOwnAccount) {
  AvatarCache cache(folder_, nullptr);
  ASSERT_TRUE(cache.Open());
  const XmppAddress me("alice@example.net/desk");
  EXPECT_TRUE(cache.LoadRecent(me).empty());
  std::vector<std::string> hashes;
  for (int i = 0; i < 30; ++i) hashes.push_back(AvatarHash(std::to_string(i)));
  ASSERT_TRUE(cache.SaveRecent(me, hashes));
  EXPECT_TRUE(Exists("alice@example.net.mru.txt"));
  const std::vector<std::string> loaded = cache.LoadRecent(me);
  ASSERT_EQ(loaded.size(), AvatarCache::kMaxRecent);
  EXPECT_EQ(loaded.front(), hashes.front());
  // Anything but hashes in the file: the list is made afresh.
  Write("alice@example.net.mru.txt", hashes[0] + "\n../../etc/passwd\n");
  EXPECT_TRUE(cache.LoadRecent(me).empty());
}

TEST_F(AvatarCacheTest, CleanupKeepsWhatIsReferenced) {
  AvatarCache cache(folder_, &renderer_);
  ASSERT_TRUE(cache.Open());
  const std::string kept_by_index = cache.StoreOriginal("IMG1");
  const std::string kept_by_recent = cache.StoreOriginal("IMG2");
  const std::string unused = cache.StoreOriginal("IMG3");
  Write("notes.original.avatar", "not ours");
  const int deleted = cache.Cleanup({{"bob@example.net", kept_by_index}}, {kept_by_recent});
  EXPECT_EQ(deleted, 1);
  EXPECT_TRUE(cache.HasOriginal(kept_by_index));
  EXPECT_FALSE(cache.LoadOnline(kept_by_recent).empty());
  EXPECT_FALSE(Exists(unused + ".original.avatar"));
  EXPECT_FALSE(Exists(unused + ".online.avatar"));
  EXPECT_TRUE(Exists("notes.original.avatar"));
}

}  // namespace
}  // namespace vexalo
