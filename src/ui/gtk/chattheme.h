#pragma once

#include <array>
#include <string>

namespace vexalo {

class ChatThemeFolders;

// The look of a conversation: a style sheet and seven HTML fragments whose placeholders are
// filled for every message or system line. "Classic" is built in and needs no files.
class ChatTheme {
 public:
  enum Fragment {
    kStyleSheet = 0,
    kHeader = 1,
    kStatus = 2,
    kNextStatus = 3,
    kIncoming = 4,
    kIncomingNext = 5,
    kOutgoing = 6,
    kOutgoingNext = 7,
    kFragmentCount = 8,
  };

  static constexpr const char* kBuiltInName = "Classic";
  static constexpr const char* kDefaultName = "ClassicPicture";
  // A fragment file larger than this counts as unreadable: themes are a few kilobytes.
  static constexpr size_t kMaxFragmentBytes = 256 * 1024;

  // The built-in theme.
  ChatTheme();

  // The theme of that name, or false when it has no folder or lacks a required fragment.
  bool Load(const std::string& name, const ChatThemeFolders& folders);
  // The named theme, else "ClassicPicture", else "Classic" (an empty name means the default).
  static ChatTheme Choose(const std::string& name, const ChatThemeFolders& folders);

  const std::string& fragment(Fragment index) const { return fragments_[index]; }
  const std::string& name() const { return name_; }
  // The folder that relative addresses in the fragments resolve against; empty for "Classic".
  const std::string& resources_folder() const { return resources_folder_; }

  // The file of each fragment inside a theme's resources folder.
  static const char* FileName(Fragment index);

 private:
  void SetBuiltIn();

  std::array<std::string, kFragmentCount> fragments_;
  std::string name_;
  std::string resources_folder_;
};

}  // namespace vexalo
