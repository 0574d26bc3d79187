#include "xmpp/server/externalservice.h"

#include <charconv>
#include <ctime>

#include "base/runtime/logging.h"
#include "xmpp/server/relayinfo.h"
#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

// Printable ASCII, at most `limit` bytes: the values go into STUN attributes.
bool IsPrintable(std::string_view text, size_t limit) {
  if (text.size() > limit) return false;
  for (char c : text) {
    if (c < ' ' || c > '~') return false;
  }
  return true;
}

bool IsLowerWord(std::string_view text) {
  if (text.empty() || text.size() > ExternalService::kMaxTypeLength) return false;
  for (char c : text) {
    if (!((c >= 'a' && c <= 'z') || c == '-')) return false;
  }
  return true;
}

// `count` decimal digits at `at`, into `value`.
bool Digits(std::string_view text, size_t at, size_t count, int* value) {
  if (at + count > text.size()) return false;
  *value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *value = *value * 10 + (text[i] - '0');
  }
  return true;
}

std::optional<ExternalService> ParseService(const XmlElem& element) {
  ExternalService service;
  service.type = element.GetAttribute(kQnType);
  service.host = element.GetAttribute(kQnHost);
  service.transport = element.GetAttribute(kQnTransport);
  if (!IsLowerWord(service.type) || !RelayInfo::IsValidHostName(service.host)) return std::nullopt;
  if (!service.transport.empty() && service.transport != "udp" && service.transport != "tcp") {
    return std::nullopt;
  }
  const std::string& port = element.GetAttribute(kQnPort);
  if (!port.empty() && !RelayInfo::ParsePort(port, &service.port)) return std::nullopt;
  service.username = element.GetAttribute(kQnUsername);
  service.password = element.GetAttribute(kQnPassword);
  if (!IsPrintable(service.username, ExternalService::kMaxCredentialLength) ||
      !IsPrintable(service.password, ExternalService::kMaxCredentialLength)) {
    return std::nullopt;
  }
  const std::string& expires = element.GetAttribute(kQnExpires);
  if (!expires.empty()) {
    const std::optional<int64_t> when = ExternalService::ParseDateTime(expires);
    if (!when) return std::nullopt;
    service.expires = *when;
  }
  const std::string& restricted = element.GetAttribute(kQnRestricted);
  service.restricted = restricted == "1" || restricted == "true";
  return service;
}

}  // namespace

std::vector<ExternalService> ExternalService::ParseList(const XmlElem& list) {
  std::vector<ExternalService> services;
  for (const XmlElem* element = list.FindChild(kQnExtDiscoService);
       element != nullptr && services.size() < kMaxServices;
       element = element->FindNextSibling(kQnExtDiscoService)) {
    if (std::optional<ExternalService> service = ParseService(*element)) {
      services.push_back(std::move(*service));
    } else {
      LOG(kWarning) << "ExternalService::ParseList - unusable service entry skipped";
    }
  }
  return services;
}

std::optional<int64_t> ExternalService::ParseDateTime(std::string_view text) {
  // CCYY-MM-DDThh:mm:ss[.sss](Z|(+|-)hh:mm)
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (text.size() > 40 || !Digits(text, 0, 4, &year) || text.size() < 20 || text[4] != '-' ||
      !Digits(text, 5, 2, &month) || text[7] != '-' || !Digits(text, 8, 2, &day) ||
      text[10] != 'T' || !Digits(text, 11, 2, &hour) || text[13] != ':' ||
      !Digits(text, 14, 2, &minute) || text[16] != ':' || !Digits(text, 17, 2, &second)) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return std::nullopt;
  }
  size_t at = 19;
  if (text[at] == '.') {
    ++at;
    const size_t digits_start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    if (at == digits_start) return std::nullopt;
  }
  int offset = 0;
  if (at < text.size() && text[at] == 'Z') {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    int offset_hours = 0, offset_minutes = 0;
    if (!Digits(text, at + 1, 2, &offset_hours) || at + 3 >= text.size() || text[at + 3] != ':' ||
        !Digits(text, at + 4, 2, &offset_minutes) || offset_hours > 23 || offset_minutes > 59) {
      return std::nullopt;
    }
    offset = (offset_hours * 60 + offset_minutes) * 60 * (text[at] == '-' ? -1 : 1);
    at += 6;
  } else {
    return std::nullopt;
  }
  if (at != text.size()) return std::nullopt;
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  return static_cast<int64_t>(timegm(&fields)) - offset;
}

}  // namespace vexalo
