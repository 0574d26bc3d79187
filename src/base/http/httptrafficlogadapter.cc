#include "base/http/httptrafficlogadapter.h"

#include "base/http/httpmessage.h"
#include "text/asciitext.h"

namespace vexalo {
namespace {

// A line that opens a new message ends the body before it.
bool StartsMessage(std::string_view data) {
  static constexpr std::string_view kStarts[] = {"HTTP/1.", "GET ", "POST ", "PUT ",
                                                 "DELETE ", "HEAD ", "CONNECT "};
  for (std::string_view start : kStarts) {
    if (data.starts_with(start)) return true;
  }
  return false;
}

// Longest header line kept whole while waiting for its end.
constexpr size_t kMaxPartialLine = 8192;

}  // namespace

HttpTrafficLogAdapter::HttpTrafficLogAdapter(EventSocket* socket, LogSeverity severity,
                                             const std::string& label)
    : SocketAdapter(socket), severity_(severity), tag_("[" + label + "]") {}

std::string HttpTrafficLogAdapter::RedactLine(std::string_view line) {
  size_t colon = line.find(':');
  if (colon != std::string_view::npos) {
    std::string_view name = line.substr(0, colon);
    for (std::string_view secret : {"Authorization", "Proxy-Authorization", "Cookie",
                                    "Set-Cookie", "Proxy-Authenticate-Info"}) {
      if (EqualsNoCase(name, secret)) return std::string(name) + ": ## TEXT REMOVED ##";
    }
  }
  return PrintableText(line, 1024);
}

int HttpTrafficLogAdapter::Send(const void* data, size_t length) {
  int n = SocketAdapter::Send(data, length);
  if (n > 0 && log_internal::IsOn(severity_)) {
    Log(&sent_, " >> ", std::string_view(static_cast<const char*>(data), n));
  }
  return n;
}

int HttpTrafficLogAdapter::Recv(void* buffer, size_t size) {
  int n = SocketAdapter::Recv(buffer, size);
  if (n > 0 && log_internal::IsOn(severity_)) {
    Log(&received_, " << ", std::string_view(static_cast<const char*>(buffer), n));
  }
  return n;
}

void HttpTrafficLogAdapter::Log(Direction* direction, const char* arrow, std::string_view data) {
  if (direction->in_body && StartsMessage(data)) direction->in_body = false;
  while (!data.empty() && !direction->in_body) {
    size_t feed = data.find('\n');
    if (feed == std::string_view::npos) {
      if (direction->partial.size() < kMaxPartialLine) direction->partial.append(data);
      return;
    }
    std::string line = std::move(direction->partial);
    direction->partial.clear();
    line.append(data.substr(0, feed));
    data.remove_prefix(feed + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) direction->in_body = true;
    LOG_V(severity_) << tag_ << arrow << RedactLine(line);
  }
  if (!data.empty()) {
    LOG_V(severity_) << tag_ << arrow << "## " << data.size() << " bytes of body ##";
  }
}

void HttpTrafficLogAdapter::OnConnectEvent(EventSocket* socket) {
  LOG_V(severity_) << tag_ << " Connected";
  sent_ = Direction();
  received_ = Direction();
  SocketAdapter::OnConnectEvent(socket);
}

void HttpTrafficLogAdapter::OnCloseEvent(EventSocket* socket, int error) {
  LOG_V(severity_) << tag_ << " Closed with error: " << error;
  SocketAdapter::OnCloseEvent(socket, error);
}

}  // namespace vexalo
