#include "app/loginmessages.h"

#include <cstdlib>
#include <string>

namespace vexalo {
namespace {

struct Entry {
  int id;
  const char* german;
  const char* english;
};

// "%d" marks where a number goes.
constexpr Entry kEntries[] = {
    {kMsgSignIn, "Anmelden", "Sign in"},
    {kMsgOffline, "Offline", "Offline"},
    {kMsgConnecting, "Verbinden", "Connecting"},
    {kMsgSigningIn, "Anmeldung wird ausgeführt", "Signing in"},
    {kMsgReconnecting, "Verbindung wird wiederhergestellt...", "Reconnecting..."},
    {kMsgSuspended, "Wird eingestellt", "Suspended"},
    {kMsgReconnectingNow, "Verbindung wird nun wiederhergestellt", "Reconnecting now"},
    {kMsgReconnectingInSeconds, "Verbindung wird in %d Sek. wiederhergestellt",
     "Reconnecting in %d sec."},
    {kMsgReconnectingInMinutes, "Verbindung wird in %d Min. wiederhergestellt",
     "Reconnecting in %d min."},
    {kMsgClockExplanation,
     "Ein abgelaufenes Authentifizierungszertifikat hat die Verbindung verhindert. Meist liegt "
     "das an unterschiedlichen Uhrzeiten von Computer und Servern. Bitte prüfen Sie die Uhr "
     "Ihres Computers und klicken Sie auf \"Wiederholen\".",
     "An expired authentication certificate prevented the connection, most likely because the "
     "clocks of this computer and the servers differ. Please check your computer's clock and "
     "press Retry."},
    {kMsgClockCaption, "Ups!", "Oops!"},
    {kMsgAccountLocked, "Konto gesperrt", "Account locked"},
    {kMsgWrongPassword, "Falscher Nutzername oder falsches Passwort",
     "Wrong user name or password"},
    {kMsgNoConnection, "Es konnte keine Verbindung zum Server hergestellt werden.",
     "No connection to the server could be made."},
    {kMsgInternalServerError, "Interner Serverfehler.", "Internal server error."},
    {kMsgAuthenticationFailed, "Die Authentifizierung beim Server konnte nicht ausgeführt werden.",
     "The authentication with the server failed."},
    {kMsgSignInFailed, "Anmeldung fehlgeschlagen", "Sign-in failed"},
    {kMsgErrorCaption, "Fehler", "Error"},
    {kMsgSignedInElsewhere,
     "Sie haben sich an einem anderen Ort angemeldet. Die Verbindung wird nicht automatisch "
     "wiederhergestellt.",
     "You signed in from another place. This client will not reconnect by itself."},
    {kMsgProxyAuthRequired,
     "Der Proxyserver verlangt einen Nutzernamen und ein Passwort. Bitte tragen Sie sie in den "
     "Proxy-Einstellungen ein.",
     "The proxy server asks for a user name and password. Please enter them in the proxy "
     "settings."},
    {kMsgNotAnAddress, "Das ist keine gültige Adresse.", "That is not a valid address."},
    {kMsgSignedIn, "Angemeldet als %s", "Signed in as %s"},
    {kMsgTimedOut, "Der Server hat nicht rechtzeitig geantwortet (Zeitüberschreitung).",
     "The server did not answer in time (timed out)."},
    {kMsgTlsFailed,
     "Es konnte keine sichere Verbindung (TLS) zum Server aufgebaut werden: Der Server bietet "
     "sie nicht an, oder der Aufbau ist gescheitert.",
     "No secure (TLS) connection to the server could be set up: the server does not offer one, "
     "or setting it up failed."},
    {kMsgStanzaTooLarge,
     "Der Server hat mehr Daten auf einmal gesendet, als angenommen werden; die Verbindung "
     "wurde getrennt.",
     "The server sent more data at once than is accepted; the connection was closed."},
    {kMsgRestrictedXml,
     "Der Server hat unzulässiges XML gesendet (eine DTD, eine Entität oder eine "
     "Verarbeitungsanweisung); die Verbindung wurde getrennt.",
     "The server sent XML that is not allowed (a DTD, an entity or a processing instruction); "
     "the connection was closed."},
    {kMsgBadXml, "Der Server hat fehlerhafte Daten gesendet; die Verbindung wurde getrennt.",
     "The server sent data that could not be read; the connection was closed."},
    {kMsgBoundElsewhere,
     "Der Server hat eine andere Adresse als die dieses Kontos zugewiesen; die Anmeldung wurde "
     "abgebrochen.",
     "The server assigned an address that is not this account's; the sign-in was stopped."},
    {kMsgOutOfOrder,
     "Der Server hat Nachrichten gesendet, bevor die Anmeldung abgeschlossen war; die Anmeldung "
     "wurde abgebrochen.",
     "The server sent messages before the sign-in was complete; the sign-in was stopped."},
    {kMsgConnectionLost, "Die Verbindung zum Server wurde unterbrochen.",
     "The connection to the server was lost."},
    {kMsgServerClosed, "Der Server hat die Verbindung beendet.",
     "The server ended the connection."},
    {kMsgServerStreamError, "Der Server hat die Verbindung mit einem Fehler beendet.",
     "The server ended the connection with an error."},
    {kMsgSettingsNotSaved,
     "Die Einstellungen konnten nicht in %s gespeichert werden (ist der Datenträger voll oder "
     "der Ordner schreibgeschützt?).",
     "The settings could not be saved in %s (is the disk full or the folder read-only?)."},
};

}  // namespace

LoginMessages::Language LoginMessages::LanguageOfLocale(std::string_view locale) {
  if (locale.size() >= 2 && locale.substr(0, 2) == "de" &&
      (locale.size() == 2 || locale[2] == '_' || locale[2] == '.' || locale[2] == '@')) {
    return Language::kGerman;
  }
  return Language::kEnglish;
}

LoginMessages LoginMessages::ForEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return LoginMessages(LanguageOfLocale(value));
  }
  return LoginMessages(Language::kEnglish);
}

std::string LoginMessages::Text(int id) const {
  for (const Entry& entry : kEntries) {
    if (entry.id == id) return language_ == Language::kGerman ? entry.german : entry.english;
  }
  return {};
}

std::string LoginMessages::Text(int id, long number) const {
  std::string text = Text(id);
  const size_t mark = text.find("%d");
  if (mark != std::string::npos) text.replace(mark, 2, std::to_string(number));
  return text;
}

std::string LoginMessages::Text(int id, std::string_view value) const {
  std::string text = Text(id);
  const size_t mark = text.find("%s");
  if (mark != std::string::npos) text.replace(mark, 2, value);
  return text;
}

}  // namespace vexalo
