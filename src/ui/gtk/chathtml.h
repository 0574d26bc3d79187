#pragma once

#include <string>

namespace vexalo {

// Turns text from the network into HTML that shows it as text: every markup character is
// escaped, invalid UTF-8 and control characters are replaced, line breaks become <br>, and
// web, mail and XMPP addresses become links. Nothing else of the text can become markup.
class ChatHtml {
 public:
  static std::string Escape(const std::string& text);
  // A message body or system line, isolated for bidirectional text so that direction
  // overrides inside it cannot reorder what the theme puts around it.
  static std::string Message(const std::string& text);
  // A name (sender), escaped and isolated likewise, without links.
  static std::string Name(const std::string& text);
  // Whether the view may hand the address to the desktop's browser or mail program.
  static bool IsOpenableLink(const std::string& uri);

 private:
  static std::string CleanText(const std::string& text);
};

}  // namespace vexalo
