#pragma once

#include <array>
#include <ctime>
#include <string>

#include "ui/gtk/chattheme.h"

namespace vexalo {

// One rendered line and how it goes into the page: a new block is appended to the content,
// a continuation replaces the "insert" element of the block before it.
struct ChatInsertion {
  std::string html;
  bool new_block = true;
};

// What a chat message says about its sender for the theme.
struct ChatSender {
  std::string name;          // display name, plain text
  std::string picture_uri;   // file address of the sender's picture; empty for the default
  int colour = 0;            // 0 blue, 1 green, 2 red, 3 yellow: the default picture
};

// Renders messages and system lines with a theme, choosing between a new block and a
// continuation of the previous one by the kind of the item rendered before.
class ChatRenderer {
 public:
  // `default_pictures`: the file address of each colour's picture (may be empty).
  ChatRenderer(ChatTheme theme, std::array<std::string, 4> default_pictures);

  ChatInsertion Message(const ChatSender& sender, const std::string& text, std::time_t time,
                        bool outgoing);
  ChatInsertion Status(const std::string& text, std::time_t time);
  // The header block that starts a page; the next item starts a new block.
  std::string Header();

  const ChatTheme& theme() const { return theme_; }

 private:
  enum class Kind { kNone, kStatus, kIncoming, kOutgoing };

  ChatTheme theme_;
  std::array<std::string, 4> default_pictures_;
  Kind last_ = Kind::kNone;
};

}  // namespace vexalo
