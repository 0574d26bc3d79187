#include "session/tunnel/plainfilename.h"

namespace vexalo {
namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Cuts `text` to at most `bytes` without splitting a UTF-8 sequence.
std::string CutAtCharacter(std::string_view text, size_t bytes) {
  if (text.size() <= bytes) return std::string(text);
  size_t end = bytes;
  while (end > 0 && IsContinuationByte(text[end])) --end;
  return std::string(text.substr(0, end));
}

}  // namespace

std::string PlainFileName(std::string_view network_name) {
  size_t slash = network_name.find_last_of("/\\");
  if (slash != std::string_view::npos) network_name.remove_prefix(slash + 1);
  std::string name;
  for (char c : network_name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) continue;
    name.push_back(c);
  }
  size_t start = name.find_first_not_of(". ");
  name = start == std::string::npos ? std::string() : name.substr(start);
  while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
  if (name.size() > kMaxFileNameBytes) {
    size_t dot = name.find_last_of('.');
    std::string extension = dot != std::string::npos && name.size() - dot <= 16 ? name.substr(dot) : std::string();
    name = CutAtCharacter(name, kMaxFileNameBytes - extension.size()) + extension;
  }
  if (name.empty()) return std::string(kFallbackFileName);
  return name;
}

}  // namespace vexalo
