#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/http/datastream.h"

namespace vexalo {

enum HttpVerb { HV_GET = 0, HV_POST = 1, HV_PUT = 2, HV_DELETE = 3, HV_CONNECT = 4, HV_HEAD = 5 };
enum HttpVersion { HVER_1_0 = 0, HVER_1_1 = 1 };

enum HttpHeaderMode {
  HDR_COMBINE = 0,    // append ",value" to the first entry of the name, else add
  HDR_ADD = 1,        // always a further entry
  HDR_AUTO = 2,       // HDR_ADD for headers that cannot be combined, else HDR_COMBINE
  HDR_REPLACE = 3,    // drop every entry of the name, then add
  HDR_IF_ABSENT = 4,  // add only when the name is not there yet
};

enum HttpError {
  HERR_NONE = 0,
  HERR_PROTOCOL = 1,
  HERR_DISCONNECTED = 2,
  HERR_OVERFLOW = 3,
  HERR_SOCKET = 4,
  HERR_CANCELLED = 6,
  HERR_AUTH = 7,
  HERR_CERT_EXPIRED = 8,
  HERR_STREAM = 9,
  // A redirect that may not be followed: too many, to an unusable Location, or from HTTPS to
  // plain HTTP.
  HERR_REDIRECT = 10,
  // The server's certificate was not accepted (untrusted, wrong name, not yet valid).
  HERR_CERT = 11,
};

// "GET" ... "HEAD"; null for a value outside the table.
const char* ToString(HttpVerb verb);
// The verb for `text` (exact, upper case); false when it is none of the table.
bool FromString(std::string_view text, HttpVerb* verb);
// "1.0", "1.1".
const char* ToString(HttpVersion version);
// "HERR_NONE" ... for logs.
const char* HttpErrorName(int error);

struct HttpNameLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using HttpHeaderMap = std::multimap<std::string, std::string, HttpNameLess>;

// What requests and responses share: headers and the document, which is the body to send or
// the sink of the received body.
class HttpMessage {
 public:
  HttpMessage() = default;
  virtual ~HttpMessage() = default;
  HttpMessage(const HttpMessage&) = delete;
  HttpMessage& operator=(const HttpMessage&) = delete;

  void AddHeader(const std::string& name, const std::string& value,
                 HttpHeaderMode mode = HDR_AUTO);
  void ClearHeader(const std::string& name);
  bool HasHeader(const std::string& name, std::string* value = nullptr) const;
  const HttpHeaderMap& headers() const { return headers_; }
  void ClearHeaders() { headers_.clear(); }

  // Takes `document` and sets Content-Type and Content-Length (its size) in place of any
  // earlier ones. False (document still taken, no Content-Length) when its size is unknown.
  bool SetContent(const std::string& content_type, std::unique_ptr<DataStream> document);
  void SetDocument(std::unique_ptr<DataStream> document) { document_ = std::move(document); }
  DataStream* document() const { return document_.get(); }
  std::unique_ptr<DataStream> TakeDocument() { return std::move(document_); }

  // The first line of the message, without CR LF.
  virtual std::string FormatLeader() const = 0;
  // Takes in a received first line (trailing white space removed).
  virtual HttpError ParseLeader(std::string_view line) = 0;
  virtual bool IsRequest() const = 0;

  // Back to a fresh message (headers and document dropped).
  virtual void Clear();

 private:
  HttpHeaderMap headers_;
  std::unique_ptr<DataStream> document_;
};

}  // namespace vexalo
