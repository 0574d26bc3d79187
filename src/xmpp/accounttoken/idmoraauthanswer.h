#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vexalo {

// An answer of the account service: "key=value" lines separated by runs of CR and LF, e.g.
// "SID=...\nLSID=...\n" or "Error=CaptchaRequired\nCaptchaToken=...\nCaptchaUrl=...\n".
// Everything about it comes from the network, so it is bounded and checked: too long, too
// many lines, a line without "=" or with an empty key, and control bytes make it malformed.
// Values (session ids among them) are wiped when the answer goes.
class IdmoraAuthAnswer {
 public:
  static constexpr size_t kMaxBytes = 16 * 1024;
  static constexpr size_t kMaxLines = 64;
  static constexpr size_t kMaxKeyBytes = 64;
  static constexpr size_t kMaxValueBytes = 4096;

  IdmoraAuthAnswer() = default;
  ~IdmoraAuthAnswer();
  IdmoraAuthAnswer(const IdmoraAuthAnswer&) = delete;
  IdmoraAuthAnswer& operator=(const IdmoraAuthAnswer&) = delete;

  // False (and nothing kept) for a malformed text. An empty text is a valid empty answer.
  bool Parse(std::string_view text);
  // The value of the first line with exactly this key (case-sensitive); empty when none.
  std::string Get(std::string_view key) const;
  bool Has(std::string_view key) const;
  size_t size() const { return entries_.size(); }

 private:
  void Clear();

  std::vector<std::pair<std::string, std::string>> entries_;
};

// The token in an IssueAuthToken answer: the text without trailing white space. False when
// that is empty, longer than IdmoraAuthAnswer::kMaxValueBytes, or has white space or control
// bytes inside (it goes into a SASL payload and a URL).
bool ParseIssuedToken(std::string_view text, std::string* token);

// Form encoding: letters, digits and "-_.!~*'()" stay, a space becomes "+", every other
// byte "%XX".
std::string FormEncode(std::string_view data);

// What a refused sign-in asks the next attempt to answer: the captcha's token and the path of
// its image on the account service ("/accounts/" + the answer's CaptchaUrl).
struct CaptchaChallenge {
  std::string token;
  std::string image_path;

  bool required() const { return !token.empty(); }
  // The form handed around as text (connection, application): empty when not required.
  std::string Serialize() const;
  // The challenge in a serialized text; an empty one for anything malformed.
  static CaptchaChallenge Parse(std::string_view text);
  // From a refusal: a challenge when the answer carries a usable CaptchaToken and CaptchaUrl
  // (a relative path of URL characters), an empty one otherwise.
  static CaptchaChallenge FromAnswer(const IdmoraAuthAnswer& answer);
};

// The user's answer to a challenge, sent with the next sign-in.
struct CaptchaAnswer {
  std::string token;
  std::string answer;
};

}  // namespace vexalo
