#include "base/http/httpmessage.h"

#include <algorithm>

#include "text/asciitext.h"

namespace vexalo {
namespace {

constexpr const char* kVerbs[] = {"GET", "POST", "PUT", "DELETE", "CONNECT", "HEAD"};

}  // namespace

const char* ToString(HttpVerb verb) {
  int index = static_cast<int>(verb);
  return index >= 0 && index < 6 ? kVerbs[index] : nullptr;
}

bool FromString(std::string_view text, HttpVerb* verb) {
  for (int i = 0; i < 6; ++i) {
    if (text == kVerbs[i]) {
      *verb = static_cast<HttpVerb>(i);
      return true;
    }
  }
  return false;
}

const char* ToString(HttpVersion version) { return version == HVER_1_0 ? "1.0" : "1.1"; }

const char* HttpErrorName(int error) {
  switch (error) {
    case HERR_NONE: return "HERR_NONE";
    case HERR_PROTOCOL: return "HERR_PROTOCOL";
    case HERR_DISCONNECTED: return "HERR_DISCONNECTED";
    case HERR_OVERFLOW: return "HERR_OVERFLOW";
    case HERR_SOCKET: return "HERR_SOCKET";
    case HERR_CANCELLED: return "HERR_CANCELLED";
    case HERR_AUTH: return "HERR_AUTH";
    case HERR_CERT_EXPIRED: return "HERR_CERT_EXPIRED";
    case HERR_STREAM: return "HERR_STREAM";
    case HERR_REDIRECT: return "HERR_REDIRECT";
    case HERR_CERT: return "HERR_CERT";
    default: return "HERR_UNKNOWN";
  }
}

bool HttpNameLess::operator()(const std::string& a, const std::string& b) const {
  return LessNoCase(a, b);
}

void HttpMessage::AddHeader(const std::string& name, const std::string& value,
                            HttpHeaderMode mode) {
  if (mode == HDR_AUTO) {
    // These carry one challenge or cookie each and commas inside them: never combine.
    bool separate = EqualsNoCase(name, "Set-Cookie") || EqualsNoCase(name, "WWW-Authenticate") ||
                    EqualsNoCase(name, "Proxy-Authenticate");
    mode = separate ? HDR_ADD : HDR_COMBINE;
  }
  auto existing = headers_.find(name);
  switch (mode) {
    case HDR_COMBINE:
      if (existing != headers_.end()) {
        existing->second += ",";
        existing->second += value;
        return;
      }
      break;
    case HDR_REPLACE:
      headers_.erase(name);
      break;
    case HDR_IF_ABSENT:
      if (existing != headers_.end()) return;
      break;
    default:
      break;
  }
  headers_.emplace(name, value);
}

void HttpMessage::ClearHeader(const std::string& name) { headers_.erase(name); }

bool HttpMessage::HasHeader(const std::string& name, std::string* value) const {
  auto it = headers_.find(name);
  if (it == headers_.end()) return false;
  if (value) *value = it->second;
  return true;
}

bool HttpMessage::SetContent(const std::string& content_type,
                             std::unique_ptr<DataStream> document) {
  document_ = std::move(document);
  AddHeader("Content-Type", content_type, HDR_REPLACE);
  size_t size = 0;
  if (!document_ || !document_->GetSize(&size)) {
    ClearHeader("Content-Length");
    return false;
  }
  AddHeader("Content-Length", std::to_string(size), HDR_REPLACE);
  return true;
}

void HttpMessage::Clear() {
  headers_.clear();
  document_.reset();
}

}  // namespace vexalo
