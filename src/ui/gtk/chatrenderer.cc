#include "ui/gtk/chatrenderer.h"

#include <utility>

#include "ui/gtk/chathtml.h"
#include "ui/gtk/chatplaceholders.h"

namespace vexalo {

ChatRenderer::ChatRenderer(ChatTheme theme, std::array<std::string, 4> default_pictures)
    : theme_(std::move(theme)), default_pictures_(std::move(default_pictures)) {}

std::string ChatRenderer::Header() {
  last_ = Kind::kNone;
  return theme_.fragment(ChatTheme::kHeader);
}

ChatInsertion ChatRenderer::Message(const ChatSender& sender, const std::string& text,
                                    std::time_t time, bool outgoing) {
  const Kind kind = outgoing ? Kind::kOutgoing : Kind::kIncoming;
  ChatInsertion insertion;
  insertion.new_block = last_ != kind;
  last_ = kind;
  ChatTheme::Fragment fragment;
  if (outgoing) {
    fragment = insertion.new_block ? ChatTheme::kOutgoing : ChatTheme::kOutgoingNext;
  } else {
    fragment = insertion.new_block ? ChatTheme::kIncoming : ChatTheme::kIncomingNext;
  }
  const int colour = sender.colour >= 0 && sender.colour < 4 ? sender.colour : 0;
  const std::string picture =
      sender.picture_uri.empty() ? default_pictures_[colour] : sender.picture_uri;
  ChatPlaceholders values;
  values.Set("sender", ChatHtml::Name(sender.name));
  values.Set("message", ChatHtml::Message(text));
  values.Set("userIconPath", ChatHtml::Escape(picture));
  values.SetTime(time);
  insertion.html = values.Expand(theme_.fragment(fragment));
  return insertion;
}

ChatInsertion ChatRenderer::Status(const std::string& text, std::time_t time) {
  ChatInsertion insertion;
  insertion.new_block = last_ != Kind::kStatus;
  last_ = Kind::kStatus;
  ChatPlaceholders values;
  values.Set("message", ChatHtml::Message(text));
  values.SetTime(time);
  insertion.html = values.Expand(
      theme_.fragment(insertion.new_block ? ChatTheme::kStatus : ChatTheme::kNextStatus));
  return insertion;
}

}  // namespace vexalo
