#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace vexalo {

// A fresh folder under the temporary directory, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::error_code ignored;
    std::string pattern =
        (std::filesystem::temp_directory_path(ignored) / "vexalo-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    // Servers that drop privileges must still reach their files.
    chmod(path_.c_str(), 0755);
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Empty when no folder could be made.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Writes `content` to the file `name` in the folder (readable by everyone); returns its path.
  std::string Write(const std::string& name, const std::string& content) const {
    std::string file = *this / name;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
    chmod(file.c_str(), 0644);
    return file;
  }

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
