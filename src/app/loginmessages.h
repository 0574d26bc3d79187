#pragma once

#include <string>
#include <string_view>

namespace vexalo {

// The user-visible texts of signing in, by resource id: German for German locales, English
// for every other.
enum LoginMessageId : int {
  kMsgSignIn = 42209,
  kMsgOffline = 42210,
  kMsgConnecting = 42801,
  kMsgSigningIn = 42802,
  kMsgReconnecting = 42803,
  kMsgSuspended = 42804,
  kMsgReconnectingNow = 42805,
  kMsgReconnectingInSeconds = 42806,  // takes a number
  kMsgReconnectingInMinutes = 42807,  // takes a number
  kMsgClockExplanation = 42901,
  kMsgClockCaption = 42902,
  kMsgAccountLocked = 43001,
  kMsgWrongPassword = 43002,
  kMsgNoConnection = 43003,
  kMsgInternalServerError = 43004,
  kMsgAuthenticationFailed = 43005,
  kMsgSignInFailed = 43006,
  kMsgErrorCaption = 569,
  // Not among the window's stored texts: another sign-in with the same resource took over.
  kMsgSignedInElsewhere = 43101,
  kMsgProxyAuthRequired = 43102,
  kMsgNotAnAddress = 43103,
  kMsgSignedIn = 43104,  // takes the address
  // Why a connection failed or was lost, in words for the user.
  kMsgTimedOut = 43105,
  kMsgTlsFailed = 43106,
  kMsgStanzaTooLarge = 43107,
  kMsgRestrictedXml = 43108,
  kMsgBadXml = 43109,
  kMsgBoundElsewhere = 43110,
  kMsgConnectionLost = 43111,
  kMsgServerClosed = 43112,
  kMsgServerStreamError = 43113,
  kMsgSettingsNotSaved = 43114,  // takes the file's path
  kMsgOutOfOrder = 43115,
};

class LoginMessages {
 public:
  enum class Language { kEnglish, kGerman };

  explicit LoginMessages(Language language) : language_(language) {}
  // The language of the user's locale: LC_ALL, else LC_MESSAGES, else LANG ("de", "de_DE.UTF-8",
  // "de_AT", ... are German).
  static LoginMessages ForEnvironment();
  static Language LanguageOfLocale(std::string_view locale);

  // The text of `id`; empty for an unknown id.
  std::string Text(int id) const;
  // The text of `id` with its number filled in.
  std::string Text(int id, long number) const;
  // The text of `id` with its text value filled in.
  std::string Text(int id, std::string_view value) const;
  Language language() const { return language_; }

 private:
  Language language_;
};

}  // namespace vexalo
