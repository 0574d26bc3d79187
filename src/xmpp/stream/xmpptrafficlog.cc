#include "xmpp/stream/xmpptrafficlog.h"

#include "base/runtime/logging.h"
#include "base/runtime/timeutils.h"

namespace vexalo {
namespace {

// The element name of a start tag, without its prefix.
std::string_view LocalName(std::string_view tag) {
  size_t end = 1;
  while (end < tag.size() && tag[end] != '>' && tag[end] != '/' &&
         static_cast<unsigned char>(tag[end]) > ' ') {
    ++end;
  }
  std::string_view name = tag.substr(1, end - 1);
  const size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The tag with the values of credential attributes (the TURN username and password that
// external service discovery hands out) replaced by the removal mark.
std::string WithoutSecretAttributes(std::string_view tag) {
  std::string out(tag);
  for (std::string_view name : {"username", "password"}) {
    for (size_t at = out.find(name); at != std::string::npos; at = out.find(name, at + 1)) {
      if (at == 0 || static_cast<unsigned char>(out[at - 1]) > ' ') continue;
      size_t eq = at + name.size();
      while (eq < out.size() && static_cast<unsigned char>(out[eq]) <= ' ') ++eq;
      if (eq >= out.size() || out[eq] != '=') continue;
      size_t open = eq + 1;
      while (open < out.size() && static_cast<unsigned char>(out[open]) <= ' ') ++open;
      if (open >= out.size() || (out[open] != '\'' && out[open] != '"')) continue;
      const size_t close = out.find(out[open], open + 1);
      if (close == std::string::npos) {
        out.replace(open + 1, std::string::npos, XmppTrafficLog::kRemovedText);
        break;
      }
      out.replace(open + 1, close - open - 1, XmppTrafficLog::kRemovedText);
    }
  }
  return out;
}

}  // namespace

XmppTrafficLog::XmppTrafficLog(LineSink sink, std::function<std::string()> now)
    : sink_(std::move(sink)), now_(std::move(now)) {
  if (!now_) now_ = LocalAsctimeText;
}

void XmppTrafficLog::LogInput(const char* bytes, size_t length) {
  LogChunk(input_, bytes, length);
}

void XmppTrafficLog::LogOutput(const char* bytes, size_t length) {
  LogChunk(output_, bytes, length);
}

void XmppTrafficLog::Emit(int indent, std::string_view text) {
  std::string line(static_cast<size_t>(indent < 0 ? 0 : indent) + 1, ' ');
  line.append(text);
  if (sink_) {
    sink_(line);
  } else {
    LOG(kInfo) << line;
  }
}

bool XmppTrafficLog::IsSensitiveTag(std::string_view tag) const {
  const std::string_view name = LocalName(tag);
  // SASL payloads carry credentials: never logged.
  if (name == "auth" || name == "response" || name == "challenge" || name == "success") {
    return true;
  }
  // The relay token of the relay information.
  if (name == "token") return true;
  if (log_internal::IsOn(kSensitive)) return false;
  return name == "body" || name == "subject" || name == "status" || name == "snippet" ||
         name == "BINVAL";
}

void XmppTrafficLog::LogChunk(Direction& direction, const char* bytes, size_t length) {
  if (!sink_ && !log_internal::IsOn(kInfo)) return;
  direction.pending.append(bytes, length);
  Emit(-1, std::string(direction.header) + " : " + now_());

  const std::string& buffer = direction.pending;
  int indent = 3;
  size_t pos = 0;
  while (pos < buffer.size()) {
    if (buffer[pos] != '<') {
      const size_t next = buffer.find('<', pos);
      if (next == std::string::npos) break;  // the text may go on in the next chunk
      const std::string_view text(buffer.data() + pos, next - pos);
      // Line breaks and indentation between tags would only make empty lines.
      if (text.find_first_not_of(" \t\r\n") != std::string_view::npos) {
        Emit(indent, direction.remove_next_text ? kRemovedText : text);
        direction.remove_next_text = false;
      }
      pos = next;
      continue;
    }
    const size_t close = buffer.find('>', pos);
    if (close == std::string::npos) break;
    const std::string_view tag(buffer.data() + pos, close + 1 - pos);
    direction.remove_next_text = false;
    if (tag.size() > 1 && tag[1] == '/') {
      indent -= 2;
      Emit(indent, tag);
    } else if (tag[tag.size() - 2] == '/' || tag[1] == '?' || tag[1] == '!') {
      Emit(indent, WithoutSecretAttributes(tag));
    } else {
      Emit(indent, WithoutSecretAttributes(tag));
      indent += 2;
      direction.remove_next_text = IsSensitiveTag(tag);
    }
    pos = close + 1;
  }
  direction.pending.erase(0, pos);
  if (direction.pending.size() > kMaxPendingBytes) {
    // A tag that never ends: log what there is (never text that may be secret) and go on.
    Emit(indent, direction.remove_next_text ? kRemovedText
                                            : std::string_view(direction.pending).substr(0, 256));
    direction.pending.clear();
    direction.remove_next_text = false;
  }
}

}  // namespace vexalo
