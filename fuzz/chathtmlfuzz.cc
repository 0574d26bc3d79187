// Turns arbitrary text from the network into the chat view's HTML, and expands arbitrary theme
// text. Nothing may crash; the HTML is valid UTF-8 whose only markup is our own (<bdi>, <br>,
// and links to web, mail and XMPP addresses with a quoted, escaped target), and expansion is a
// single pass: values are never expanded again, so the output stays proportional to the input.
#include <glib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ui/gtk/chathtml.h"
#include "ui/gtk/chatplaceholders.h"

namespace {

bool StartsWith(const std::string& text, size_t at, const char* prefix) {
  return text.compare(at, std::strlen(prefix), prefix) == 0;
}

void CheckMarkup(const std::string& html) {
  if (!g_utf8_validate(html.data(), static_cast<gssize>(html.size()), nullptr)) abort();
  for (size_t i = 0; i < html.size(); ++i) {
    if (html[i] == '>' ) continue;  // the end of one of ours, checked at its start
    if (html[i] != '<') continue;
    if (StartsWith(html, i, "<bdi>") || StartsWith(html, i, "<bdi class='text'>") ||
        StartsWith(html, i, "</bdi>") || StartsWith(html, i, "<br>") || StartsWith(html, i, "</a>")) {
      i = html.find('>', i);
      continue;
    }
    if (!StartsWith(html, i, "<a href=\"")) abort();
    const size_t start = i + 9;
    const size_t end = html.find('"', start);
    if (end == std::string::npos || html.compare(end, 2, "\">") != 0) abort();
    const std::string target = html.substr(start, end - start);
    if (target.find_first_of("<>'") != std::string::npos) abort();
    if (!vexalo::ChatHtml::IsOpenableLink(target)) abort();
    i = end + 1;
  }
  // Outside our tags no markup character is left.
  std::string rest = html;
  for (const char* tag : {"<bdi class='text'>", "<bdi>", "</bdi>", "<br>", "</a>", "\">"}) {
    for (size_t at; (at = rest.find(tag)) != std::string::npos;) rest.erase(at, std::strlen(tag));
  }
  for (size_t at; (at = rest.find("<a href=\"")) != std::string::npos;) rest.erase(at, 9);
  if (rest.find_first_of("<>") != std::string::npos) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckMarkup(vexalo::ChatHtml::Message(text));
  CheckMarkup(vexalo::ChatHtml::Name(text));
  const std::string escaped = vexalo::ChatHtml::Escape(text);
  if (escaped.find_first_of("<>\"'") != std::string::npos) abort();

  vexalo::ChatPlaceholders values;
  values.Set("message", "%message%%sender%");
  values.Set("sender", "%sender%");
  values.SetTime(0);
  const std::string expanded = values.Expand(text);
  // Each input byte yields at most the longest value (or a formatted time).
  if (expanded.size() > text.size() * 256 + 256) abort();
  return 0;
}
