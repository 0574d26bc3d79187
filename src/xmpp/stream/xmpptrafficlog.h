#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vexalo {

// Writes the XMPP connection's traffic to the log, one tag per line, indented by nesting.
// Chunks are buffered until they form whole tags, so a stanza split across reads is logged
// once. Credentials (SASL payloads) are always removed; message bodies, subjects, status
// texts, mail snippets and pictures are removed unless the log's sensitive level is on.
class XmppTrafficLog {
 public:
  using LineSink = std::function<void(std::string_view line)>;

  static constexpr std::string_view kRemovedText = "## TEXT REMOVED ##";
  // A tag longer than this is logged as it stands rather than waited for (the stream would
  // refuse such a stanza anyway).
  static constexpr size_t kMaxPendingBytes = 1 << 20;

  // Lines go to `sink`, or to the log at info level when none is given. `now` supplies the
  // header's time (for tests); empty: the local time.
  explicit XmppTrafficLog(LineSink sink = {}, std::function<std::string()> now = {});

  void LogInput(const char* bytes, size_t length);
  void LogOutput(const char* bytes, size_t length);

 private:
  struct Direction {
    const char* header;
    std::string pending;
    bool remove_next_text = false;
  };

  void LogChunk(Direction& direction, const char* bytes, size_t length);
  void Emit(int indent, std::string_view text);
  // Whether text right inside this start tag is to be removed.
  bool IsSensitiveTag(std::string_view tag) const;

  LineSink sink_;
  std::function<std::string()> now_;
  Direction input_{"RECV <<<<<<<<<<<<<<<<<<<<<<<<<"};
  Direction output_{"SEND >>>>>>>>>>>>>>>>>>>>>>>>>"};
};

}  // namespace vexalo
