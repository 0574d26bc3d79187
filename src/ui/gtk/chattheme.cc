#include "ui/gtk/chattheme.h"

#include <glib.h>

#include "ui/gtk/chatthemefolders.h"

namespace vexalo {
namespace {

constexpr const char* kFiles[] = {
    "main.css",
    "Header.html",
    "Status.html",
    "NextStatus.html",
    "Incoming/Content.html",
    "Incoming/NextContent.html",
    "Outgoing/Content.html",
    "Outgoing/NextContent.html",
};

constexpr const char* kBuiltInStyle =
    "BODY { margin: 4px; }\n"
    "DIV#content { font: 12px Arial; }\n"
    "DIV#insert { display: none; }\n"
    "DIV.system { margin: 4px 0px 4px 0px; }\n"
    "DIV.chat DIV.msg { margin: 4px 0px 0px 0px; padding-left: 11px; }\n"
    "DIV.chat DIV.1st { text-indent: -11px; }\n";
constexpr const char* kBuiltInStatus = "<div class='system'>%message%</div>\n<div id='insert'></div>\n";
constexpr const char* kBuiltInBlock =
    "<div class='chat'>\n"
    " <div class='msg 1st'><span style='font-weight:bold'>%sender%</span>: %message%</div>\n"
    " <div id='insert'></div>\n"
    "</div>\n";
constexpr const char* kBuiltInNext = "<div class='msg Nth'>%message%</div>\n<div id='insert'></div>\n";

// The fragment a missing "next" fragment repeats; -1 when it has none.
int CopyOf(int index) {
  switch (index) {
    case ChatTheme::kNextStatus:
      return ChatTheme::kStatus;
    case ChatTheme::kIncomingNext:
      return ChatTheme::kIncoming;
    case ChatTheme::kOutgoingNext:
      return ChatTheme::kOutgoing;
    default:
      return -1;
  }
}

// Empty when the file is missing, unreadable, too large or not UTF-8.
std::string ReadFragment(const std::string& folder, const char* file) {
  gchar* path = g_build_filename(folder.c_str(), file, nullptr);
  gchar* contents = nullptr;
  gsize length = 0;
  std::string result;
  if (g_file_get_contents(path, &contents, &length, nullptr) &&
      length <= ChatTheme::kMaxFragmentBytes && g_utf8_validate(contents, length, nullptr)) {
    result.assign(contents, length);
  }
  g_free(contents);
  g_free(path);
  return result;
}

}  // namespace

ChatTheme::ChatTheme() { SetBuiltIn(); }

const char* ChatTheme::FileName(Fragment index) { return kFiles[index]; }

void ChatTheme::SetBuiltIn() {
  name_ = kBuiltInName;
  resources_folder_.clear();
  fragments_ = {kBuiltInStyle, "", kBuiltInStatus, kBuiltInStatus,
                kBuiltInBlock, kBuiltInNext, kBuiltInBlock, kBuiltInNext};
}

bool ChatTheme::Load(const std::string& name, const ChatThemeFolders& folders) {
  if (name == kBuiltInName) {
    SetBuiltIn();
    return true;
  }
  const std::string folder = folders.Find(name);
  if (folder.empty()) return false;
  for (int i = 0; i < kFragmentCount; ++i) {
    fragments_[i] = ReadFragment(folder, kFiles[i]);
    if (fragments_[i].empty() && CopyOf(i) >= 0) fragments_[i] = fragments_[CopyOf(i)];
    if (fragments_[i].empty() && i != kHeader) return false;
  }
  name_ = name;
  resources_folder_ = folder;
  return true;
}

ChatTheme ChatTheme::Choose(const std::string& name, const ChatThemeFolders& folders) {
  const std::string wanted = name.empty() ? kDefaultName : name;
  ChatTheme theme;
  if (theme.Load(wanted, folders)) return theme;
  if (wanted != kDefaultName && theme.Load(kDefaultName, folders)) return theme;
  theme.SetBuiltIn();
  return theme;
}

}  // namespace vexalo
