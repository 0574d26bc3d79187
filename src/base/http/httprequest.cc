#include "base/http/httprequest.h"

namespace vexalo {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string HttpRequest::FormatLeader() const {
  const char* text = ToString(verb);
  return std::string(text ? text : "GET") + " " + path + " HTTP/" + ToString(version);
}

HttpError HttpRequest::ParseLeader(std::string_view line) {
  size_t first = line.find(' ');
  if (first == std::string_view::npos) return HERR_PROTOCOL;
  size_t second = line.find(' ', first + 1);
  if (second == std::string_view::npos || second == first + 1) return HERR_PROTOCOL;
  std::string_view protocol = line.substr(second + 1);
  // Exactly "HTTP/1.0" or "HTTP/1.1": other versions speak another framing.
  if (protocol.size() != 8 || protocol.substr(0, 7) != "HTTP/1." || !IsDigit(protocol[7]) ||
      protocol[7] > '1') {
    return HERR_PROTOCOL;
  }
  HttpVerb parsed;
  if (!FromString(line.substr(0, first), &parsed)) return HERR_PROTOCOL;
  verb = parsed;
  version = protocol[7] == '0' ? HVER_1_0 : HVER_1_1;
  path.assign(line.substr(first + 1, second - first - 1));
  return HERR_NONE;
}

void HttpRequest::Clear() {
  HttpMessage::Clear();
  verb = HV_GET;
  version = HVER_1_1;
  path.clear();
}

}  // namespace vexalo
