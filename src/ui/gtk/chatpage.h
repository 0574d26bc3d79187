#pragma once

#include <string>

namespace vexalo {

// The page a conversation is shown in: the theme's style sheet and blocks go into its
// "content" element. Its content security policy lets nothing load from the network and no
// script of the page run; our own scripts run in a separate world that the policy leaves alone.
class ChatPage {
 public:
  static constexpr const char* kContentSecurityPolicy =
      "default-src 'none'; img-src file: data:; style-src 'unsafe-inline' file:; "
      "font-src file: data:; media-src 'none'; script-src 'none'; object-src 'none'; "
      "form-action 'none'; frame-src 'none'; base-uri file:";

  // `resources_folder`: what relative addresses in the theme resolve against (may be empty).
  static std::string Build(const std::string& resources_folder);
  // The page's base address for that folder, ending in '/'.
  static std::string BaseUri(const std::string& resources_folder);
};

}  // namespace vexalo
