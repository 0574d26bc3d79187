#include "app/linux/proxydetect.h"

#include <gio/gio.h>
#include <proxy.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "base/runtime/logging.h"
#include "base/net/socketaddress.h"
#include "text/asciitext.h"

namespace vexalo {
namespace {

// Longest line read from profiles.ini or prefs.js; longer lines (prefs.js holds some long
// JSON values) are skipped whole rather than read in pieces that look like lines.
constexpr size_t kMaxFileLine = 1024;
// Bypass entries of this length or more are ignored.
constexpr size_t kMaxBypassEntry = 256;
// Proxy list entries longer than this are ignored.
constexpr size_t kMaxProxyListEntry = 1023;

constexpr std::string_view kFirefoxPrefPrefix = "network.proxy.";
constexpr std::string_view kDefaultNoProxiesOn = "localhost, 127.0.0.1";

// -1: ask the desktop; 0 or 1: the answer a test asked for.
std::atomic<int> g_firefox_default_override{-1};

bool IsSpace(char c) { return kAsciiSpace.find(c) != std::string_view::npos; }

// Reads decimal digits at the start of `text` (at least one); false past 65535.
bool ParseDecimalPort(std::string_view text, size_t* used, uint32_t* value) {
  const size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
  uint64_t parsed = 0;
  if (!ParseDecimal(text.substr(0, digits), 65535, &parsed)) return false;
  *used = digits;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

// A port given as "atoi" text: leading digits, 1 to 65535.
bool PortFromText(std::string_view text, uint16_t* port) {
  size_t used = 0;
  uint32_t value = 0;
  if (!ParseDecimalPort(TrimLeft(text), &used, &value) || value == 0) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

// A port number in C notation (0x.. hexadecimal, 0.. octal, else decimal) that must be the
// whole text; 1 to 65535.
bool PortFromCNumber(std::string_view text, uint16_t* port) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  unsigned base = 10;
  size_t i = 0;
  if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
    if (i == text.size()) return false;
  } else if (text[0] == '0') {
    base = 8;
  }
  uint32_t value = 0;
  for (; i < text.size(); ++i) {
    char c = AsciiLower(text[i]);
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
    if (digit >= base) return false;
    value = value * base + digit;
    if (value > 65535) return false;
  }
  if (value == 0) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

// Reads one line into `line` without its end of line. Lines longer than kMaxFileLine are
// consumed and reported as too long.
enum class LineRead { kLine, kTooLong, kEnd };
LineRead ReadBoundedLine(FILE* file, std::string* line) {
  line->clear();
  bool too_long = false;
  int c;
  bool any = false;
  while ((c = getc(file)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line->size() < kMaxFileLine) {
      line->push_back(static_cast<char>(c));
    } else {
      too_long = true;
    }
  }
  if (!any) return LineRead::kEnd;
  return too_long ? LineRead::kTooLong : LineRead::kLine;
}

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::string HomeDir() {
  const char* home = getenv("HOME");
  if (home && *home) return home;
  struct passwd pw;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &pw, buffer, sizeof(buffer), &found) == 0 && found && pw.pw_dir) {
    return pw.pw_dir;
  }
  return std::string();
}

// "a.b.c.d" or "a.b.c.d/n" as the whole entry, each number 0 to 255; the prefix length is
// 32 when missing or above 32, 0 when negative.
bool ParseNetworkEntry(std::string_view entry, uint32_t* network, int* prefix) {
  uint32_t address = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= entry.size() || entry[i] != '.') return false;
      ++i;
    }
    size_t start = i;
    uint32_t value = 0;
    while (i < entry.size() && entry[i] >= '0' && entry[i] <= '9' && i - start < 3) {
      value = value * 10 + static_cast<uint32_t>(entry[i] - '0');
      ++i;
    }
    if (i == start || value > 255) return false;
    address = (address << 8) | value;
  }
  int bits = 32;
  if (i < entry.size()) {
    if (entry[i] != '/') return false;
    ++i;
    bool negative = false;
    if (i < entry.size() && entry[i] == '-') {
      negative = true;
      ++i;
    }
    size_t start = i;
    long value = 0;
    while (i < entry.size() && entry[i] >= '0' && entry[i] <= '9') {
      if (value < 1000) value = value * 10 + (entry[i] - '0');
      ++i;
    }
    if (i == start || i != entry.size()) return false;
    if (negative) {
      bits = 0;
    } else if (value <= 32) {
      bits = static_cast<int>(value);
    }
  }
  *network = address;
  *prefix = bits;
  return true;
}

// Matches `pattern` against the whole of `host`, case-insensitively. A '*' at the end matches
// the rest, also nothing; elsewhere it stands for one or more characters. Backtracks, so
// "*.example.com" also matches hosts with several labels before the domain.
bool PatternMatches(std::string_view pattern, std::string_view host) {
  constexpr size_t kNone = std::string_view::npos;
  size_t p = 0;
  size_t h = 0;
  size_t star = kNone;  // the pattern position of the last middle '*'
  size_t resume = 0;    // where the host resumes when that '*' takes one more character
  while (h < host.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      if (p + 1 == pattern.size()) return true;
      star = p;
      resume = h + 1;
      p = star + 1;
      h = resume;
      continue;
    }
    if (p < pattern.size() && AsciiLower(pattern[p]) == AsciiLower(host[h])) {
      ++p;
      ++h;
      continue;
    }
    if (star == kNone) return false;
    ++resume;
    if (resume > host.size()) return false;
    p = star + 1;
    h = resume;
  }
  if (p + 1 == pattern.size() && pattern[p] == '*') return true;
  return p == pattern.size();
}

// Letters, digits, '-', '_' and '.': what a proxy's name or number can hold. Anything else
// came from a malformed list and is not handed to the resolver.
bool IsHostName(std::string_view host) {
  if (host.empty()) return false;
  for (char c : host) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

void ApplyEntry(const ProxyListEntry& entry, ProxySettings* proxy) {
  proxy->type = entry.type;
  proxy->address.SetIP(entry.host, true);
  proxy->address.SetPort(entry.port);
}

// One factory for the whole process, never freed: freeing it unloads libproxy's plug-ins,
// and a PAC runner's thread-local data would then outlive its code (the detection thread
// crashes as it exits). Calls are serialised.
std::mutex g_libproxy_mutex;
pxProxyFactory* g_libproxy_factory = nullptr;

// libproxy's answer for `url`: the environment, the desktop's settings and PAC/WPAD as the
// machine is set up. False when libproxy could not answer.
bool AskLibproxy(const std::string& url, ProxySettings* proxy) {
  char** answers = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_libproxy_mutex);
    if (g_libproxy_factory == nullptr) g_libproxy_factory = px_proxy_factory_new();
    if (g_libproxy_factory == nullptr) {
      LOG(kError) << "libproxy could not be set up";
      return false;
    }
    answers = px_proxy_factory_get_proxies(g_libproxy_factory, url.c_str());
  }
  if (!answers) {
    LOG(kWarning) << "libproxy gave no answer";
    return false;
  }
  std::vector<std::string> list;
  for (char** a = answers; *a; ++a) list.emplace_back(*a);
  px_proxy_factory_free_proxies(answers);
  ProxyListEntry entry = ChooseFromProxyUrls(list);
  if (entry.type != PROXY_NONE) {
    // Only the chosen host and port: the answers may carry credentials.
    LOG(kInfo) << "System proxy " << ProxyToString(entry.type) << " " << entry.host << ":"
               << entry.port;
    ApplyEntry(entry, proxy);
  }
  return true;
}

const char* EnvValue(const char* lower, const char* upper) {
  const char* value = getenv(lower);
  if (!value || !*value) value = getenv(upper);
  return (value && *value) ? value : nullptr;
}

// The environment's manual proxy (http_proxy, https_proxy, no_proxy), read the way libproxy
// reads it. Used when discovery is not allowed: libproxy cannot be told to leave WPAD out.
bool AskEnvironment(const ProxyUrl& url, ProxySettings* proxy) {
  const char* value = url.secure ? EnvValue("https_proxy", "HTTPS_PROXY") : nullptr;
  if (!value) value = EnvValue("http_proxy", "HTTP_PROXY");
  if (!value) return true;
  const char* no_proxy = EnvValue("no_proxy", "NO_PROXY");
  if (no_proxy && ProxyBypassListMatches(url, no_proxy, ',')) return true;
  std::string text = value;
  if (StartsWithNoCase(text, "wpad:") || StartsWithNoCase(text, "pac+")) {
    LOG(kInfo) << "Proxy discovery not allowed; the configured proxy script is not used";
    return true;
  }
  if (text.find("://") == std::string::npos) text = "http://" + text;
  ProxyListEntry entry = ChooseFromProxyUrls({text});
  if (entry.type != PROXY_NONE) ApplyEntry(entry, proxy);
  return true;
}

// The system's answer: libproxy when discovery is allowed, the environment otherwise.
bool AskSystem(const std::string& url, const ProxyUrl& parsed, ProxySettings* proxy,
               bool allow_autodetect) {
  return allow_autodetect ? AskLibproxy(url, proxy) : AskEnvironment(parsed, proxy);
}

// Firefox's manual settings. Returns with `proxy` untouched for a direct connection.
void ApplyFirefoxManual(const ProxyUrl& url, const std::map<std::string, std::string>& prefs,
                        ProxySettings* proxy) {
  auto get = [&prefs](const std::string& key) {
    auto it = prefs.find(key);
    return it == prefs.end() ? std::string() : it->second;
  };
  auto has = [&prefs](const std::string& key) { return prefs.count(key) != 0; };
  std::string bypass =
      has("no_proxies_on") ? get("no_proxies_on") : std::string(kDefaultNoProxiesOn);
  if (ProxyBypassListMatches(url, bypass, ',')) return;

  std::string host_key;
  std::string port_key;
  ProxyType type = PROXY_NONE;
  if (get("share_proxy_settings") == "true") {
    host_key = "http", port_key = "http_port", type = PROXY_UNKNOWN;
  } else if (has("socks")) {
    host_key = "socks", port_key = "socks_port", type = PROXY_SOCKS5;
  } else if (has("ssl")) {
    host_key = "ssl", port_key = "ssl_port", type = PROXY_HTTPS;
  } else if (has("http")) {
    host_key = "http", port_key = "http_port", type = PROXY_HTTPS;
  } else {
    return;
  }
  ProxyListEntry entry;
  entry.type = type;
  entry.host = get(host_key);
  // A proxy without a host or with a port that cannot be one is not used (Firefox itself
  // ignores such a setting); the truncated port would only reach some other service.
  if (entry.host.empty() || !PortFromText(get(port_key), &entry.port)) {
    LOG(kWarning) << "Firefox proxy setting \"" << host_key << "\" has no usable host or port";
    return;
  }
  ApplyEntry(entry, proxy);
}

}  // namespace

ProxyUrl ProxyUrl::Parse(std::string_view url) {
  ProxyUrl result;
  std::string_view rest;
  if (url.substr(0, 7) == "http://") {
    rest = url.substr(7);
  } else if (url.substr(0, 8) == "https://") {
    rest = url.substr(8);
    result.secure = true;
  } else {
    return ProxyUrl();
  }
  size_t stop = rest.find_first_of(":/");
  if (stop == std::string_view::npos) {
    result.host = rest;
    result.path = "/";
    return result;
  }
  result.host = rest.substr(0, stop);
  if (rest[stop] == ':') {
    std::string_view after = rest.substr(stop + 1);
    size_t used = 0;
    uint32_t port = 0;
    if (!after.empty() && after[0] >= '0' && after[0] <= '9') {
      // A port that does not fit makes the URL unusable rather than pointing elsewhere.
      if (!ParseDecimalPort(after, &used, &port)) return ProxyUrl();
      result.port = static_cast<uint16_t>(port);
    }
    result.path = after.substr(used);
  } else {
    result.path = rest.substr(stop);
  }
  return result;
}

int ProxyTypeRank(ProxyType type) {
  switch (type) {
    case PROXY_SOCKS5:
      return 3;
    case PROXY_HTTPS:
      return 2;
    case PROXY_UNKNOWN:
      return 1;
    default:
      return 0;
  }
}

bool IsFirefoxDefaultBrowser() {
  int forced = g_firefox_default_override.load();
  if (forced >= 0) return forced == 1;
  GAppInfo* app = g_app_info_get_default_for_uri_scheme("http");
  if (!app) return false;
  const char* id = g_app_info_get_id(app);
  const char* executable = g_app_info_get_executable(app);
  bool firefox = AsciiLowerCase(id ? id : "").find("firefox") != std::string::npos ||
                 AsciiLowerCase(executable ? executable : "").find("firefox") != std::string::npos;
  g_object_unref(app);
  return firefox;
}

void SetFirefoxDefaultBrowserOverride(std::optional<bool> is_default) {
  g_firefox_default_override.store(is_default ? (*is_default ? 1 : 0) : -1);
}

bool GetFirefoxProfilePath(std::string* path) {
  std::string home = HomeDir();
  if (home.empty()) return false;
  const std::string base = home + "/.mozilla/firefox/";
  File file(fopen((base + "profiles.ini").c_str(), "r"));
  if (!file) return false;

  auto profile_folder = [&base](std::string_view value, bool relative) {
    return (relative ? base : std::string()) + std::string(value) + "/";
  };
  // IsRelative= may come before or after Path=, so the folder is formed when it is needed.
  bool relative = true;
  std::string section_path;    // Path= of the current section
  bool in_install = false;     // an [Install...] section (Firefox 67 and later)
  std::string last_profile;    // the folder of the last profile section
  std::string marked_default;  // the profile marked Default=1
  std::string install_default;
  auto section_folder = [&]() {
    return section_path.empty() ? std::string() : profile_folder(section_path, relative);
  };
  std::string line;
  LineRead read;
  while ((read = ReadBoundedLine(file.get(), &line)) != LineRead::kEnd) {
    if (read == LineRead::kTooLong) continue;
    std::string_view text = TrimRight(line);
    if (!text.empty() && text[0] == '[') {
      // A later section ([General], [Install...]) does not undo an earlier profile.
      if (!in_install && !section_path.empty()) last_profile = section_folder();
      section_path.clear();
      relative = true;
      in_install = StartsWithNoCase(text, "[Install");
      continue;
    }
    if (StartsWithNoCase(text, "IsRelative=")) {
      relative = text.size() <= 11 || text[11] != '0';
    } else if (StartsWithNoCase(text, "Path=")) {
      section_path = text.substr(5);
    } else if (StartsWithNoCase(text, "Default=")) {
      std::string_view value = text.substr(8);
      if (in_install) {
        // The profile this installation starts with, as a Path= value.
        if (install_default.empty() && !value.empty()) {
          install_default = profile_folder(value, value[0] != '/');
        }
      } else if (marked_default.empty() && !section_path.empty() &&
                 (value.empty() || value[0] != '0')) {
        marked_default = section_folder();
      }
    }
  }
  if (!in_install && !section_path.empty()) last_profile = section_folder();
  if (!install_default.empty()) {
    *path = install_default;
  } else if (!marked_default.empty()) {
    *path = marked_default;
  } else if (!last_profile.empty()) {
    *path = last_profile;
  } else {
    return false;
  }
  return true;
}

bool ParseFirefoxPrefLine(std::string_view line, std::string* name, std::string* value) {
  constexpr std::string_view kStart = "user_pref(\"";
  if (line.substr(0, kStart.size()) != kStart) return false;
  size_t name_start = kStart.size();
  size_t name_end = line.find('"', name_start);
  if (name_end == std::string_view::npos || name_end == name_start) return false;
  size_t p = name_end + 1;
  if (p >= line.size() || line[p] != ',') return false;
  ++p;
  while (p < line.size() && IsSpace(line[p])) ++p;
  size_t value_end = line.find(')', p);
  if (value_end == std::string_view::npos || value_end == p) return false;
  if (line.substr(value_end) != ");") return false;
  std::string_view v = line.substr(p, value_end - p);
  if (v.size() >= 2 && v[0] == '"') v = v.substr(1, v.size() - 2);
  name->assign(line.substr(name_start, name_end - name_start));
  value->assign(v);
  return true;
}

bool ReadFirefoxPrefs(const std::string& profile_path, std::string_view prefix,
                      std::map<std::string, std::string>* prefs) {
  File file(fopen((profile_path + "prefs.js").c_str(), "r"));
  if (!file) return false;
  std::string line;
  std::string name;
  std::string value;
  LineRead read;
  while ((read = ReadBoundedLine(file.get(), &line)) != LineRead::kEnd) {
    if (read == LineRead::kTooLong) continue;
    std::string_view text = TrimRight(line);
    if (text.empty() || text[0] == '#' || text.substr(0, 2) == "/*" || text.substr(0, 2) == " *" ||
        text.substr(0, 2) == "//") {
      continue;
    }
    if (!ParseFirefoxPrefLine(text, &name, &value)) {
      LOG(kWarning) << "Unparsed firefox setting: " << PrintableText(text, 200);
      continue;
    }
    if (name.size() >= prefix.size() && std::string_view(name).substr(0, prefix.size()) == prefix &&
        !value.empty()) {
      (*prefs)[name.substr(prefix.size())] = value;
    }
  }
  return true;
}

bool ProxyBypassListMatches(const ProxyUrl& url, std::string_view list, char separator) {
  bool looked_up = false;
  uint32_t host_ip = 0;
  size_t pos = 0;
  while (pos < list.size()) {
    while (pos < list.size() && IsSpace(list[pos])) ++pos;
    size_t end = list.find(separator, pos);
    if (end == std::string_view::npos) end = list.size();
    std::string_view entry = TrimRight(list.substr(pos, end - pos));
    pos = end + 1;
    if (entry.empty() || entry.size() >= kMaxBypassEntry) continue;

    size_t colon = entry.find(':');
    if (colon != std::string_view::npos) {
      size_t used = 0;
      uint32_t port = 0;
      if (!ParseDecimalPort(entry.substr(colon + 1), &used, &port) || port != url.port) continue;
      entry = entry.substr(0, colon);
      if (entry.empty()) continue;
    }
    uint32_t network = 0;
    int prefix = 0;
    if (ParseNetworkEntry(entry, &network, &prefix)) {
      if (!looked_up) {
        host_ip = SocketAddress::Lookup(url.host, true);
        looked_up = true;
      }
      uint32_t mask = prefix == 0 ? 0 : (0xFFFFFFFFu << (32 - prefix));
      if (host_ip != 0 && (host_ip & mask) == (network & mask)) return true;
    } else if (entry[0] == '.') {
      if (entry.size() < url.host.size() &&
          EqualsNoCase(std::string_view(url.host).substr(url.host.size() - entry.size()), entry)) {
        return true;
      }
    } else if (PatternMatches(entry, url.host)) {
      return true;
    }
  }
  return false;
}

ProxyListEntry ChooseFromProxyList(std::string_view list) {
  ProxyListEntry choice;
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t end = list.find(' ', pos);
    if (end == std::string_view::npos) end = list.size();
    std::string_view entry = list.substr(pos, end - pos);
    pos = end + 1;
    if (entry.empty() || entry.size() > kMaxProxyListEntry) continue;
    size_t colon = entry.find(':');
    if (colon == std::string_view::npos) continue;
    uint16_t port = 0;
    if (!PortFromCNumber(entry.substr(colon + 1), &port)) continue;
    std::string_view host = entry.substr(0, colon);
    ProxyType type = PROXY_UNKNOWN;
    size_t equals = host.find('=');
    if (equals != std::string_view::npos) {
      std::string_view scheme = host.substr(0, equals);
      host = host.substr(equals + 1);
      if (EqualsNoCase(scheme, "socks")) {
        type = PROXY_SOCKS5;
      } else if (EqualsNoCase(scheme, "https")) {
        type = PROXY_HTTPS;
      }
    }
    if (!IsHostName(host)) continue;
    if (ProxyTypeRank(type) > ProxyTypeRank(choice.type)) {
      choice.type = type;
      choice.host = host;
      choice.port = port;
    }
  }
  return choice;
}

bool ParseProxyList(std::string_view list, ProxySettings* proxy) {
  ProxyListEntry entry = ChooseFromProxyList(list);
  if (entry.type == PROXY_NONE) return false;
  ApplyEntry(entry, proxy);
  return true;
}

ProxyListEntry ChooseFromProxyUrls(const std::vector<std::string>& answers) {
  ProxyListEntry choice;
  for (const std::string& answer : answers) {
    size_t scheme_end = answer.find("://");
    if (scheme_end == std::string::npos) continue;
    std::string scheme = AsciiLowerCase(std::string_view(answer).substr(0, scheme_end));
    ProxyType type;
    uint16_t port;
    if (scheme == "http") {
      type = PROXY_UNKNOWN;  // HTTP proxies and some SOCKS front ends share this form: probe
      port = 80;
    } else if (scheme == "https") {
      type = PROXY_HTTPS;
      port = 443;
    } else if (scheme == "socks" || scheme == "socks5" || scheme == "socks5h") {
      type = PROXY_SOCKS5;
      port = 1080;
    } else {
      continue;  // direct://, and kinds we cannot speak (socks4, ...)
    }
    std::string_view authority = std::string_view(answer).substr(scheme_end + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority = authority.substr(at + 1);  // no credentials
    if (authority.empty() || authority[0] == '[') continue;                  // IPv4 only
    size_t colon = authority.find(':');
    std::string_view host = authority.substr(0, colon);
    if (colon != std::string_view::npos) {
      std::string_view port_text = authority.substr(colon + 1);
      size_t used = 0;
      uint32_t value = 0;
      if (!ParseDecimalPort(port_text, &used, &value) || used != port_text.size() || value == 0) {
        continue;
      }
      port = static_cast<uint16_t>(value);
    }
    if (!IsHostName(host)) continue;
    if (ProxyTypeRank(type) > ProxyTypeRank(choice.type)) {
      choice.type = type;
      choice.host = host;
      choice.port = port;
    }
  }
  return choice;
}

bool GetProxySettingsForUrl(const std::string& url, ProxySettings* proxy, bool allow_autodetect) {
  ProxyUrl parsed = ProxyUrl::Parse(url);
  if (!IsFirefoxDefaultBrowser()) return AskSystem(url, parsed, proxy, allow_autodetect);

  std::string profile;
  // Firefox decides: without a profile it has nothing configured, so the connection is direct.
  if (!GetFirefoxProfilePath(&profile)) return true;
  std::map<std::string, std::string> prefs;
  if (!ReadFirefoxPrefs(profile, kFirefoxPrefPrefix, &prefs)) return false;
  auto type = prefs.find("type");
  std::string mode = type == prefs.end() ? std::string() : type->second;
  if (mode == "1") {
    ApplyFirefoxManual(parsed, prefs, proxy);
    return true;
  }
  if (mode == "2" || mode == "4") {
    // libproxy cannot be handed Firefox's own script URL; its PAC and WPAD handling follows
    // the system configuration, which is the closest answer available.
    if (!allow_autodetect) return true;
    if (mode == "2") LOG(kInfo) << "Firefox proxy script: using the system's proxy configuration";
    return AskLibproxy(url, proxy);
  }
  return true;
}

}  // namespace vexalo
