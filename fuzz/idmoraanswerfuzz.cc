// Parses arbitrary bytes as the account service's answers: a key=value answer, an issued
// token and a captcha challenge (from an answer and from its text form). Nothing may crash,
// and whatever is accepted must be within the bounds the parsers promise.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "xmpp/accounttoken/idmoraauthanswer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vexalo::CaptchaChallenge;
  using vexalo::IdmoraAuthAnswer;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  IdmoraAuthAnswer answer;
  if (answer.Parse(text)) {
    if (size > IdmoraAuthAnswer::kMaxBytes || answer.size() > IdmoraAuthAnswer::kMaxLines) abort();
    for (const char* key : {"SID", "LSID", "Error", "CaptchaToken", "CaptchaUrl"}) {
      const std::string value = answer.Get(key);
      if (value.size() > IdmoraAuthAnswer::kMaxValueBytes) abort();
      for (unsigned char c : value) {
        if (c < 0x20 || c == 0x7F) abort();
      }
    }
    const CaptchaChallenge challenge = CaptchaChallenge::FromAnswer(answer);
    if (challenge.required()) {
      if (challenge.image_path.rfind("/accounts/", 0) != 0) abort();
      // Its text form must bring back the same challenge.
      const CaptchaChallenge again = CaptchaChallenge::Parse(challenge.Serialize());
      if (again.token != challenge.token || again.image_path != challenge.image_path) abort();
    }
  } else if (answer.size() != 0) {
    abort();
  }

  std::string token;
  if (vexalo::ParseIssuedToken(text, &token)) {
    if (token.empty() || token.size() > IdmoraAuthAnswer::kMaxValueBytes) abort();
    for (unsigned char c : token) {
      if (c <= 0x20 || c == 0x7F) abort();
    }
  } else if (!token.empty()) {
    abort();
  }

  const CaptchaChallenge parsed = CaptchaChallenge::Parse(text);
  if (parsed.required() != !parsed.image_path.empty()) abort();
  return 0;
}
