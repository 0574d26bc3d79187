#include "ui/gtk/chatpage.h"

#include <glib.h>

#include "ui/gtk/chathtml.h"

namespace vexalo {

std::string ChatPage::BaseUri(const std::string& resources_folder) {
  if (resources_folder.empty()) return "file:///";
  gchar* uri = g_filename_to_uri(resources_folder.c_str(), nullptr, nullptr);
  std::string result = uri != nullptr ? uri : "file:///";
  g_free(uri);
  if (result.back() != '/') result += '/';
  return result;
}

std::string ChatPage::Build(const std::string& resources_folder) {
  // Plain blocks rather than a table cell aligned to the bottom: WebKit lays a table (or a
  // flex column) out again as a whole on every insertion, which made one more line cost
  // hundreds of milliseconds in a long conversation. Short conversations start at the top.
  return std::string("<html>\n<head><meta charset='utf-8'>"
                     "<meta http-equiv='Content-Security-Policy' content=\"") +
         kContentSecurityPolicy + "\"><base href='" + ChatHtml::Escape(BaseUri(resources_folder)) +
         "'></head>\n"
         "<body style='"
         "box-sizing: border-box; word-wrap: break-word; overflow-wrap: anywhere'>"
         "<div id='content'>\n</div></body>\n</html>";
}

}  // namespace vexalo
