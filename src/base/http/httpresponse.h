#pragma once

#include <string>

#include "base/http/httpmessage.h"

namespace vexalo {

// An HTTP response: status code and reason text.
class HttpResponse : public HttpMessage {
 public:
  int status = 500;
  std::string message;

  // "HTTP/1.1 code[ reason]".
  std::string FormatLeader() const override;
  // "HTTP/1.x ddd[ reason]": HTTP major version 1 and a three-digit code, else HERR_PROTOCOL.
  HttpError ParseLeader(std::string_view line) override;
  bool IsRequest() const override { return false; }
  void Clear() override;
};

}  // namespace vexalo
