#include "ui/gtk/chathtml.h"

#include <glib.h>

#include <array>
#include <string_view>

namespace vexalo {
namespace {

constexpr std::array<std::string_view, 5> kLinkStarts = {"https://", "http://", "mailto:",
                                                         "xmpp:", "www."};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         g_ascii_strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool EndsLink(unsigned char c) {
  return c <= ' ' || c == '<' || c == '>' || c == '"' || c == '\'' || c == '`';
}

bool IsTrailingPunctuation(char c) {
  return c == '.' || c == ',' || c == ';' || c == ':' || c == '!' || c == '?' || c == ')' ||
         c == ']' || c == '}';
}

// The start of a link at `at`: only at a word start, so "xhttp://" is no link.
size_t LinkLength(const std::string& text, size_t at) {
  if (at > 0 && g_ascii_isalnum(text[at - 1])) return 0;
  const std::string_view rest(text.data() + at, text.size() - at);
  for (std::string_view start : kLinkStarts) {
    if (!StartsWithNoCase(rest, start)) continue;
    size_t end = at + start.size();
    while (end < text.size() && !EndsLink(static_cast<unsigned char>(text[end]))) ++end;
    while (end > at + start.size() && IsTrailingPunctuation(text[end - 1])) --end;
    if (end == at + start.size()) return 0;  // the scheme alone
    return end - at;
  }
  return 0;
}

}  // namespace

std::string ChatHtml::Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string ChatHtml::CleanText(const std::string& text) {
  gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string out;
  out.reserve(text.size());
  for (const gchar* p = valid; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x20 && c != '\n' && c != '\t') continue;
    if (c == 0x7f) continue;
    out += static_cast<char>(c);
  }
  g_free(valid);
  return out;
}

std::string ChatHtml::Name(const std::string& text) {
  return "<bdi>" + Escape(CleanText(text)) + "</bdi>";
}

std::string ChatHtml::Message(const std::string& text) {
  const std::string clean = CleanText(text);
  std::string out = "<bdi class='text'>";
  out.reserve(clean.size() + clean.size() / 8 + 32);
  size_t plain = 0;
  auto flush = [&](size_t until) {
    std::string part = Escape(clean.substr(plain, until - plain));
    size_t line = 0;
    while ((line = part.find('\n', line)) != std::string::npos) {
      part.replace(line, 1, "<br>");
      line += 4;
    }
    out += part;
  };
  for (size_t i = 0; i < clean.size();) {
    const size_t length = LinkLength(clean, i);
    if (length == 0) {
      ++i;
      continue;
    }
    flush(i);
    const std::string shown = clean.substr(i, length);
    const std::string target = StartsWithNoCase(shown, "www.") ? "http://" + shown : shown;
    out += "<a href=\"" + Escape(target) + "\">" + Escape(shown) + "</a>";
    i += length;
    plain = i;
  }
  flush(clean.size());
  out += "</bdi>";
  return out;
}

bool ChatHtml::IsOpenableLink(const std::string& uri) {
  for (std::string_view scheme : {"https://", "http://", "mailto:", "xmpp:"}) {
    if (StartsWithNoCase(uri, scheme)) return true;
  }
  return false;
}

}  // namespace vexalo
