#pragma once

#include <string>

namespace vexalo {

// Where the program keeps its files, by the XDG base directory rules.
class XdgPaths {
 public:
  // $XDG_CONFIG_HOME/vexalo: the settings file.
  static std::string ConfigDir();
  static std::string SettingsFile();
  // $XDG_RUNTIME_DIR/vexalo: the instance lock and the hand-over socket.
  static std::string RuntimeDir();
  // $XDG_CONFIG_HOME/autostart: the autostart entry.
  static std::string AutostartDir();
  // $XDG_DATA_HOME/applications: the desktop entry of the mail-link handler.
  static std::string ApplicationsDir();

  // Makes `path` and its parents as needed; the last component must end up a directory of
  // ours, not a link, and loses group and other permissions. False with errno set otherwise.
  static bool EnsurePrivateDir(const std::string& path);

  // Absolute path of the running executable, empty if unknown.
  static std::string ExecutablePath();
};

}  // namespace vexalo
