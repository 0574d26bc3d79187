// Parses arbitrary text as an http or https address (as typed, or from a redirect's
// Location); nothing may crash, and what parses prints back to text that parses to the same
// parts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/http/httpclient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  vexalo::HttpUrl url;
  std::string error;
  if (!vexalo::ParseHttpUrl(text, &url, &error)) {
    if (error.empty()) abort();
    return 0;
  }
  if (url.host.empty() || url.port == 0 || url.path.empty() || url.path[0] != '/') abort();
  const std::string printed = url.ToString();
  vexalo::HttpUrl again;
  if (!vexalo::ParseHttpUrl(printed, &again)) abort();
  if (again.secure != url.secure || again.host != url.host || again.port != url.port ||
      again.path != url.path || again.ToString() != printed) {
    abort();
  }
  return 0;
}
