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
  return std::string("<html>\n<head><meta charset='utf-8'>"
                     "<meta http-equiv='Content-Security-Policy' content=\"") +
         kContentSecurityPolicy + "\"><base href='" + ChatHtml::Escape(BaseUri(resources_folder)) +
         "'></head>\n"
         "<body><table height='100%' width='100%' cellspacing='0' cellpadding='0' "
         "style='table-layout: fixed; word-wrap: break-word; overflow-wrap: anywhere'>"
         "<tr><td valign='bottom'><div id='content'>\n</div></td></tr></table></body>\n</html>";
}

}  // namespace vexalo
