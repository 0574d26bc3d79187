#include "ui/gtk/chatthemefolders.h"

#include <glib.h>

#include <utility>

namespace vexalo {
namespace {

constexpr const char* kResources = "Contents/Resources";
constexpr const char* kPictures[] = {"blue_ghost.png", "green_ghost.png", "red_ghost.png",
                                     "yellow_ghost.png"};

std::string Join(const std::string& a, const std::string& b) {
  gchar* path = g_build_filename(a.c_str(), b.c_str(), nullptr);
  std::string result = path;
  g_free(path);
  return result;
}

bool IsFolder(const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_IS_DIR); }

}  // namespace

ChatThemeFolders::ChatThemeFolders(std::vector<std::string> system_roots, std::string user_root)
    : system_roots_(std::move(system_roots)), user_root_(std::move(user_root)) {}

ChatThemeFolders ChatThemeFolders::FromEnvironment() {
  std::vector<std::string> roots;
  // Running from the build tree: the source's themes.
  if (const char* dir = g_getenv("VEXALO_THEMES_DIR"); dir != nullptr && *dir != '\0') {
    roots.push_back(dir);
  }
#ifdef VEXALO_DATADIR
  roots.push_back(Join(VEXALO_DATADIR, "vexalo/themes"));
#endif
  for (const gchar* const* dir = g_get_system_data_dirs(); *dir != nullptr; ++dir) {
    const std::string root = Join(*dir, "vexalo/themes");
    bool known = false;
    for (const auto& seen : roots) known = known || seen == root;
    if (!known) roots.push_back(root);
  }
  return ChatThemeFolders(std::move(roots), Join(g_get_user_data_dir(), "vexalo/themes"));
}

bool ChatThemeFolders::IsSafeName(const std::string& name) {
  // The name comes from the options and becomes a path: no separators, no "..".
  if (name.empty() || name.size() > 64 || name == "." || name == ".." || name == "common") {
    return false;
  }
  for (char c : name) {
    const bool ok = g_ascii_isalnum(c) || c == ' ' || c == '_' || c == '-' || c == '.';
    if (!ok) return false;
  }
  return name.find("..") == std::string::npos;
}

std::string ChatThemeFolders::Find(const std::string& name) const {
  if (!IsSafeName(name)) return "";
  for (const auto& root : system_roots_) {
    const std::string folder = Join(root, name);
    if (IsFolder(folder)) return Join(folder, kResources);
  }
  const std::string folder = Join(user_root_, name);
  if (IsFolder(folder)) return Join(folder, kResources);
  return "";
}

std::string ChatThemeFolders::DefaultPicture(int colour) const {
  if (colour < 0 || colour > 3) colour = 0;
  for (const auto& root : system_roots_) {
    const std::string path = Join(Join(root, "common/images"), kPictures[colour]);
    if (g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR)) {
      gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
      std::string result = uri != nullptr ? uri : "";
      g_free(uri);
      return result;
    }
  }
  return "";
}

}  // namespace vexalo
