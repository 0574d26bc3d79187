#include "platform/xdgpaths.h"

#include <errno.h>
#include <glib.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexalo {

namespace {

std::string Join(const char* dir, const char* name) {
  char* joined = g_build_filename(dir, name, nullptr);
  std::string path(joined);
  g_free(joined);
  return path;
}

}  // namespace

std::string XdgPaths::ConfigDir() { return Join(g_get_user_config_dir(), "vexalo"); }

std::string XdgPaths::SettingsFile() { return Join(ConfigDir().c_str(), "settings.ini"); }

std::string XdgPaths::RuntimeDir() { return Join(g_get_user_runtime_dir(), "vexalo"); }

std::string XdgPaths::AutostartDir() { return Join(g_get_user_config_dir(), "autostart"); }

std::string XdgPaths::ApplicationsDir() { return Join(g_get_user_data_dir(), "applications"); }

bool XdgPaths::EnsurePrivateDir(const std::string& path) {
  if (g_mkdir_with_parents(path.c_str(), 0700) != 0) return false;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    errno = EPERM;
    return false;
  }
  if ((st.st_mode & 077) != 0 && chmod(path.c_str(), 0700) != 0) return false;
  return true;
}

std::string XdgPaths::ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(length));
}

}  // namespace vexalo
