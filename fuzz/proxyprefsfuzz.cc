// Feeds arbitrary text to the proxy configuration parsers: Firefox preference lines, URLs,
// proxy lists, libproxy answers and bypass lists. Nothing may crash, and every choice made
// must name a host and a usable port.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/linux/proxydetect.h"

namespace {

void CheckEntry(const vexalo::ProxyListEntry& entry) {
  if (entry.type == vexalo::PROXY_NONE) return;
  if (entry.host.empty() || entry.port == 0) abort();
  if (entry.host.find(' ') != std::string::npos) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);

  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  std::string name;
  std::string value;
  for (const std::string& line : lines) {
    if (vexalo::ParseFirefoxPrefLine(line, &name, &value)) {
      if (name.empty() || name.find('"') != std::string::npos) abort();
      if (value.size() > line.size()) abort();
    }
    vexalo::ProxyUrl url = vexalo::ProxyUrl::Parse(line);
    if (!url.host.empty() && line.rfind("http://", 0) != 0 && line.rfind("https://", 0) != 0) {
      abort();
    }
  }

  CheckEntry(vexalo::ChooseFromProxyList(text));
  CheckEntry(vexalo::ChooseFromProxyUrls(lines));

  // A numeric host: bypass entries that name networks compare without asking DNS.
  vexalo::ProxyUrl url = vexalo::ProxyUrl::Parse("https://10.1.2.3:8080/");
  vexalo::ProxyBypassListMatches(url, text, ',');
  vexalo::ProxyBypassListMatches(url, text, ' ');
  return 0;
}
