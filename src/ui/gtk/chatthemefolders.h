#pragma once

#include <string>
#include <vector>

namespace vexalo {

// Where chat themes live: the system folders (the installed data folder and the desktop's data
// folders) first, then the user's own under $XDG_DATA_HOME/vexalo/themes. A theme folder
// holds its fragments in "Contents/Resources"; "common/images" holds the default pictures.
class ChatThemeFolders {
 public:
  ChatThemeFolders(std::vector<std::string> system_roots, std::string user_root);
  // From the build's data folder and the XDG environment.
  static ChatThemeFolders FromEnvironment();

  // The resources folder of the named theme; empty when no folder has it or the name could
  // leave the themes folder.
  std::string Find(const std::string& name) const;
  // The default picture for a sender's colour (0 blue, 1 green, 2 red, 3 yellow) as a
  // file address; empty when no system folder has it.
  std::string DefaultPicture(int colour) const;

  static bool IsSafeName(const std::string& name);

 private:
  std::vector<std::string> system_roots_;
  std::string user_root_;
};

}  // namespace vexalo
