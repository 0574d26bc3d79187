#include "base/http/httpresponse.h"

namespace vexalo {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string HttpResponse::FormatLeader() const {
  std::string leader = "HTTP/1.1 " + std::to_string(status);
  if (!message.empty()) leader += " " + message;
  return leader;
}

HttpError HttpResponse::ParseLeader(std::string_view line) {
  // "HTTP/1.x ddd" at least; the minor version is one digit in every HTTP/1 there is.
  if (line.size() < 12 || line.substr(0, 7) != "HTTP/1." || !IsDigit(line[7]) ||
      line[8] != ' ') {
    return HERR_PROTOCOL;
  }
  std::string_view code = line.substr(9, 3);
  if (!IsDigit(code[0]) || !IsDigit(code[1]) || !IsDigit(code[2]) || code[0] == '0') {
    return HERR_PROTOCOL;
  }
  if (line.size() > 12 && line[12] != ' ' && line[12] != '\t') return HERR_PROTOCOL;
  status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
  size_t reason = 12;
  while (reason < line.size() && (line[reason] == ' ' || line[reason] == '\t')) ++reason;
  message.assign(line.substr(reason));
  return HERR_NONE;
}

void HttpResponse::Clear() {
  HttpMessage::Clear();
  status = 500;
  message.clear();
}

}  // namespace vexalo
