#pragma once

#include <string>

#include "base/http/httpmessage.h"

namespace vexalo {

// An HTTP request: verb, version and request target (a path, or an absolute "http://..."
// address when it goes to a proxy).
class HttpRequest : public HttpMessage {
 public:
  HttpVerb verb = HV_GET;
  HttpVersion version = HVER_1_1;
  std::string path;

  // "VERB target HTTP/1.x".
  std::string FormatLeader() const override;
  HttpError ParseLeader(std::string_view line) override;
  bool IsRequest() const override { return true; }
  void Clear() override;
};

}  // namespace vexalo
