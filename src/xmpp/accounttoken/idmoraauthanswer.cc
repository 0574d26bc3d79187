#include "xmpp/accounttoken/idmoraauthanswer.h"

#include "base/http/percentencoding.h"
#include "base/runtime/secrettext.h"

namespace vexalo {
namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

void Wipe(std::string* text) {
  SecureZero(text->data(), text->size());
  text->clear();
}

// A relative path with query on the account service: URL characters only, so it can neither
// leave the service's host nor break the address it is put into.
bool IsRelativeUrlPath(std::string_view path) {
  if (path.empty() || path.size() > 1024 || path.front() == '/') return false;
  if (path.find("//") != std::string_view::npos) return false;
  for (unsigned char c : path) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
        std::string_view("-._~/?=&%+").find(static_cast<char>(c)) != std::string_view::npos;
    if (!ok) return false;
  }
  return true;
}

constexpr std::string_view kChallengeToken = "CaptchaToken";
constexpr std::string_view kChallengeImage = "CaptchaImage";
constexpr std::string_view kImagePrefix = "/accounts/";

}  // namespace

IdmoraAuthAnswer::~IdmoraAuthAnswer() { Clear(); }

void IdmoraAuthAnswer::Clear() {
  for (auto& [key, value] : entries_) Wipe(&value);
  entries_.clear();
}

bool IdmoraAuthAnswer::Parse(std::string_view text) {
  Clear();
  if (text.size() > kMaxBytes) return false;
  size_t at = 0;
  while (at < text.size()) {
    if (text[at] == '\r' || text[at] == '\n') {
      ++at;
      continue;
    }
    size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    at = end;
    const size_t equals = line.find('=');
    bool ok = entries_.size() < kMaxLines && equals != std::string_view::npos && equals > 0 &&
              equals <= kMaxKeyBytes && line.size() - equals - 1 <= kMaxValueBytes;
    for (size_t i = 0; ok && i < line.size(); ++i) {
      ok = !IsControl(static_cast<unsigned char>(line[i]));
    }
    if (!ok) {
      Clear();
      return false;
    }
    entries_.emplace_back(std::string(line.substr(0, equals)),
                          std::string(line.substr(equals + 1)));
  }
  return true;
}

std::string IdmoraAuthAnswer::Get(std::string_view key) const {
  for (const auto& [name, value] : entries_) {
    if (name == key) return value;
  }
  return {};
}

bool IdmoraAuthAnswer::Has(std::string_view key) const {
  for (const auto& entry : entries_) {
    if (entry.first == key) return true;
  }
  return false;
}

bool ParseIssuedToken(std::string_view text, std::string* token) {
  token->clear();
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r' ||
                     text[end - 1] == '\n')) {
    --end;
  }
  text = text.substr(0, end);
  if (text.empty() || text.size() > IdmoraAuthAnswer::kMaxValueBytes) return false;
  for (unsigned char c : text) {
    if (IsControl(c) || c == ' ') return false;
  }
  token->assign(text);
  return true;
}

std::string FormEncode(std::string_view data) {
  std::string encoded = PercentEncode(data, [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != 0 &&
            std::string_view("-_.!~*'()").find(static_cast<char>(c)) != std::string_view::npos);
  });
  // "%" itself is always encoded, so "%20" can only stand for a space.
  std::string out;
  out.reserve(encoded.size());
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded.compare(i, 3, "%20") == 0) {
      out.push_back('+');
      i += 2;
    } else {
      out.push_back(encoded[i]);
    }
  }
  SecureZero(encoded.data(), encoded.size());
  return out;
}

std::string CaptchaChallenge::Serialize() const {
  if (!required()) return {};
  return std::string(kChallengeToken) + "=" + token + "\n" + std::string(kChallengeImage) + "=" +
         image_path + "\n";
}

CaptchaChallenge CaptchaChallenge::Parse(std::string_view text) {
  IdmoraAuthAnswer answer;
  CaptchaChallenge challenge;
  if (!answer.Parse(text)) return challenge;
  const std::string image = answer.Get(kChallengeImage);
  if (answer.Get(kChallengeToken).empty() || !image.starts_with(kImagePrefix) ||
      !IsRelativeUrlPath(std::string_view(image).substr(kImagePrefix.size()))) {
    return challenge;
  }
  challenge.token = answer.Get(kChallengeToken);
  challenge.image_path = image;
  return challenge;
}

CaptchaChallenge CaptchaChallenge::FromAnswer(const IdmoraAuthAnswer& answer) {
  CaptchaChallenge challenge;
  const std::string url = answer.Get("CaptchaUrl");
  const std::string token = answer.Get("CaptchaToken");
  if (token.empty() || !IsRelativeUrlPath(url)) return challenge;
  challenge.token = token;
  challenge.image_path = std::string(kImagePrefix) + url;
  return challenge;
}

}  // namespace vexalo
