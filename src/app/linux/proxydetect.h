#pragma once

// Which proxy the machine's configuration asks for, per URL: the Firefox profile when Firefox
// is the default browser, otherwise libproxy (environment, desktop settings, PAC and WPAD).
// Everything here may block (files, DNS, discovery): call it on a worker thread.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/proxy/proxysettings.h"

namespace vexalo {

// An "http://" or "https://" URL taken apart; any other text gives an empty host.
struct ProxyUrl {
  std::string host;
  std::string path;
  uint16_t port = 80;  // also for https: callers give the port when it matters
  bool secure = false;

  static ProxyUrl Parse(std::string_view url);
};

// Proxy kinds by preference when a list offers several: SOCKS5, then HTTPS, then unknown.
int ProxyTypeRank(ProxyType type);

// True when a configuration source answered ("found"), not necessarily with a proxy. The type
// and address of `proxy` are set only when a proxy applies; user name and password are never
// touched. With `allow_autodetect` false no discovery (WPAD) is started.
bool GetProxySettingsForUrl(const std::string& url, ProxySettings* proxy, bool allow_autodetect);

// From the desktop's default handler of http URLs, unless a test set an override.
bool IsFirefoxDefaultBrowser();
// Tests decide the answer of IsFirefoxDefaultBrowser (nullopt: ask the desktop again).
void SetFirefoxDefaultBrowserOverride(std::optional<bool> is_default);

// The default profile folder (with a trailing '/') from $HOME/.mozilla/firefox/profiles.ini.
bool GetFirefoxProfilePath(std::string* path);
// The preferences of "prefs.js" in `profile_path` whose names start with `prefix`, keyed by
// the rest of the name. False when the file cannot be read.
bool ReadFirefoxPrefs(const std::string& profile_path, std::string_view prefix,
                      std::map<std::string, std::string>* prefs);
// One prefs.js line of the form user_pref("name", value); (trailing white space already
// removed). A quoted value loses its quotation marks. False when the line has another form.
bool ParseFirefoxPrefLine(std::string_view line, std::string* name, std::string* value);

// True when the URL's host (and port, where an entry names one) matches an entry of `list`.
// Entries are split at `separator`: ".domain" suffixes, "a.b.c.d/n" networks (the host is
// resolved), and patterns in which '*' stands for any run of characters.
bool ProxyBypassListMatches(const ProxyUrl& url, std::string_view list, char separator);

// The preferred entry of a space-separated proxy list ("host:port", "scheme=host:port").
struct ProxyListEntry {
  ProxyType type = PROXY_NONE;
  std::string host;
  uint16_t port = 0;
};
ProxyListEntry ChooseFromProxyList(std::string_view list);
// ChooseFromProxyList, then the choice into `proxy` (the host resolved at once). True when a
// proxy was chosen.
bool ParseProxyList(std::string_view list, ProxySettings* proxy);

// The preferred proxy among libproxy's answers ("direct://", "http://host:port",
// "socks5://...", ...). Entries that are not usable here (SOCKS4, IPv6 literals, bad ports)
// are passed over.
ProxyListEntry ChooseFromProxyUrls(const std::vector<std::string>& answers);

}  // namespace vexalo
