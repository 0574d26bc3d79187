#pragma once

#include <string>
#include <string_view>

namespace vexalo {

// Appended to the internal name to form the main window's class name.
inline constexpr std::string_view kMainWindowClassSuffix = " - Ombrix Xmpp Client GUI Window";

// The maker's public web host (reachable on port 443); proxy detection asks proxies to
// tunnel to it.
inline constexpr std::string_view kMakerWebHost = "www.ombrix.com";

// Who made the program and what it is called, from the build's version constants. The
// registry root and the window class name are formed from these, never spelled out.
struct ProductIdentity {
  std::string company;
  std::string internal_name;
  std::string product_name;
  std::string version;

  static ProductIdentity FromBuild();

  // "Software\\<company>\\<internal name>", the root of all per-user data.
  std::string RegistryRoot() const;
  std::string OptionsKey() const { return RegistryRoot() + "\\Options"; }
  std::string FlagsKey() const { return RegistryRoot() + "\\Flags"; }
  std::string ProcessKey() const { return RegistryRoot() + "\\Process"; }
  std::string MainWindowClassName() const;
};

}  // namespace vexalo
