#pragma once

#include <glib.h>

#include <functional>
#include <string>

namespace vexalo {

// The desktop entry that starts the program at log-in, "<dir>/vexalo.desktop" in the XDG
// autostart folder, running the executable with "/autostart".
class AutostartEntry {
 public:
  AutostartEntry(std::string dir, std::string executable, std::string product_name);

  // Writes the entry when `enabled`, removes it otherwise. An entry that already reads as
  // wanted is not rewritten. False when the file could not be written or removed.
  bool Update(bool enabled);
  bool Remove();

  std::string Contents() const;
  const std::string& path() const { return path_; }

  static constexpr const char* kFileName = "vexalo.desktop";

 private:
  std::string dir_;
  std::string path_;
  std::string executable_;
  std::string product_name_;
};

// Quotes an executable path for the Exec key of a desktop entry: double quotes, with '"',
// '`', '$' and '\' escaped and '%' doubled. Empty when the path cannot be expressed there.
std::string QuoteDesktopExec(const std::string& path);

// The text of a desktop entry that runs `executable` with `arguments`; `more_keys` adds keys to
// its group. Empty when the program's path cannot be put into an entry.
std::string DesktopEntryContents(const std::string& executable, const std::string& name,
                                 const std::string& arguments,
                                 const std::function<void(GKeyFile*, const char*)>& more_keys);

// Writes a desktop entry file (mode 0644) through a temporary file and a rename.
bool WriteDesktopFile(const std::string& path, const std::string& contents);

}  // namespace vexalo
