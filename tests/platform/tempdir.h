#pragma once

#include <ftw.h>
#include <glib.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace vexalo {

// A fresh folder under the temporary directory, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = std::string(g_get_tmp_dir()) + "/vexalo-test-XXXXXX";
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    if (!path_.empty()) {
      nftw(
          path_.c_str(),
          [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
          FTW_DEPTH | FTW_PHYS);
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

}  // namespace vexalo
