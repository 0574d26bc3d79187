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
  // Lines sit at the bottom of the view while they are few, as in a table cell aligned to the
  // bottom, but in a flex column: WebKit lays a table out again as a whole on every insertion
  // (hundreds of milliseconds per line at a few thousand lines), a block only from the change.
  return std::string("<html>\n<head><meta charset='utf-8'>"
                     "<meta http-equiv='Content-Security-Policy' content=\"") +
         kContentSecurityPolicy + "\"><base href='" + ChatHtml::Escape(BaseUri(resources_folder)) +
         "'></head>\n"
         "<body style='display: flex; flex-direction: column; min-height: 100vh; "
         "box-sizing: border-box; word-wrap: break-word; overflow-wrap: anywhere'>"
         "<div id='content' style='margin-top: auto'>\n</div></body>\n</html>";
}

}  // namespace vexalo
