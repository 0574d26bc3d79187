#include "ui/console/consolecommands.h"

#include <charconv>
#include <sstream>

#include "app/serveroverride.h"

namespace vexalo {

struct ConsoleCommands::Command {
  std::string_view name;
  std::string_view arguments;
  std::string_view help;
  void (ConsoleCommands::*run)(const Line& line);
};

namespace {

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

bool ParseChatState(std::string_view name, ChatState* state) {
  for (ChatState candidate : {ChatState::kActive, ChatState::kComposing, ChatState::kPaused,
                              ChatState::kInactive, ChatState::kGone}) {
    if (name == ChatStateText(candidate)) {
      *state = candidate;
      return true;
    }
  }
  return false;
}

struct ShowWord {
  std::string_view word;
  ShowState show;
  bool invisible;
};
constexpr ShowWord kShowWords[] = {
    {"available", ShowState::kOnline, false}, {"away", ShowState::kAway, false},
    {"xa", ShowState::kXa, false},            {"dnd", ShowState::kDnd, false},
    {"chat", ShowState::kChat, false},        {"invisible", ShowState::kOnline, true},
};

}  // namespace

const std::vector<ConsoleCommands::Command>& ConsoleCommands::Table() {
  static const std::vector<Command> table = {
      {"/signin", "JID [HOST[:PORT]]",
       "sign in (password: stored, $VEXALO_PASSWORD or asked)", &ConsoleCommands::SignInCommand},
      {"/signout", "", "sign out", &ConsoleCommands::SignOut},
      {"/roster", "", "show the contacts and who is online", &ConsoleCommands::Roster},
      {"/status", "available|away|xa|dnd|chat|invisible [text]", "set your own presence",
       &ConsoleCommands::Status},
      {"/msg", "JID text", "send a chat message", &ConsoleCommands::Message},
      {"/typing", "JID [composing|paused|active|inactive|gone]", "send a typing notice",
       &ConsoleCommands::Typing},
      {"/add", "JID [text]", "add a contact and ask to see its presence", &ConsoleCommands::Add},
      {"/remove", "JID", "remove a contact", &ConsoleCommands::Remove},
      {"/accept", "JID", "let a contact see your presence", &ConsoleCommands::Accept},
      {"/deny", "JID", "refuse a contact's request to see your presence",
       &ConsoleCommands::Deny},
      {"/sendfile", "JID PATH", "offer a file to a contact", &ConsoleCommands::SendFile},
      {"/acceptfile", "ID [DIR]", "take an offered file (into DIR, else the download folder)",
       &ConsoleCommands::AcceptFile},
      {"/rejectfile", "ID", "turn down an offered file", &ConsoleCommands::RejectFile},
      {"/call", "JID", "call a contact (a full JID picks the resource)", &ConsoleCommands::Call},
      {"/answer", "[JID]", "answer a ringing call", &ConsoleCommands::Answer},
      {"/reject", "[JID]", "turn down a ringing call", &ConsoleCommands::Reject},
      {"/hangup", "[JID]", "end a call", &ConsoleCommands::HangUp},
      {"/mute", "", "stop sending your microphone", &ConsoleCommands::MuteCall},
      {"/unmute", "", "send your microphone again", &ConsoleCommands::UnmuteCall},
      {"/hold", "", "put the call on hold", &ConsoleCommands::HoldCall},
      {"/resume", "", "take the call off hold or mute", &ConsoleCommands::ResumeCall},
      {"/devices", "", "list the sound devices", &ConsoleCommands::Devices},
      {"/audio", "IN OUT", "use these device numbers (-1: default)", &ConsoleCommands::Audio},
      {"/help", "", "this list", &ConsoleCommands::Help},
      {"/quit", "", "sign out and end", &ConsoleCommands::Quit},
  };
  return table;
}

ConsoleCommands::ConsoleCommands(ConsoleWindow* window, SecretText password, Callbacks callbacks)
    : window_(window), password_(std::move(password)), callbacks_(std::move(callbacks)) {}

std::string ConsoleCommands::Line::RestAfter(size_t count) const {
  size_t pos = 0;
  for (size_t i = 0; i < count; ++i) {
    pos = text.find_first_not_of(" \t", pos);
    if (pos == std::string::npos) return {};
    pos = text.find_first_of(" \t", pos);
    if (pos == std::string::npos) return {};
  }
  pos = text.find_first_not_of(" \t", pos);
  return pos == std::string::npos ? std::string() : text.substr(pos);
}

std::vector<std::string> ConsoleCommands::HelpLines() {
  std::vector<std::string> lines;
  for (const Command& command : Table()) {
    std::string usage(command.name);
    if (!command.arguments.empty()) usage += " " + std::string(command.arguments);
    if (usage.size() < 28) usage.resize(28, ' ');
    lines.push_back(usage + "  " + std::string(command.help));
  }
  return lines;
}

void ConsoleCommands::Handle(const std::string& text) {
  if (text.find('\0') != std::string::npos) {
    // The words would be cut at it and read as another command.
    callbacks_.error("the line held a NUL character: ignored");
    return;
  }
  Line line{SplitWords(text), text};
  if (line.words.empty()) return;
  for (const Command& command : Table()) {
    if (command.name == line.words[0]) {
      (this->*command.run)(line);
      return;
    }
  }
  callbacks_.error("unknown command: " + line.words[0] + " (type /help)");
}

void ConsoleCommands::Usage(const std::string& name) {
  for (const Command& command : Table()) {
    if (command.name == name) {
      callbacks_.error("usage: " + name + " " + std::string(command.arguments));
      return;
    }
  }
}

void ConsoleCommands::NeedsSession(bool done) {
  if (!done) callbacks_.error("not signed in");
}

bool ConsoleCommands::ParseContact(const Line& line, XmppAddress* contact) {
  if (line.words.size() < 2) {
    callbacks_.error(line.words[0] + " needs an address");
    return false;
  }
  *contact = XmppAddress(line.words[1]);
  if (!contact->IsValid()) {
    callbacks_.error("not a valid address: " + line.words[1]);
    return false;
  }
  return true;
}

void ConsoleCommands::Help(const Line&) {
  for (const std::string& text : HelpLines()) callbacks_.info(text);
}

void ConsoleCommands::Quit(const Line&) { callbacks_.quit(); }

void ConsoleCommands::SignInCommand(const Line& line) {
  const std::vector<std::string>& words = line.words;
  if (words.size() < 2 || words.size() > 3) {
    Usage(words[0]);
    return;
  }
  const XmppAddress jid(words[1]);
  if (!password_.empty()) {
    SignIn(words, password_);
  } else if (jid.IsValid() && window_->HasStoredPassword(jid)) {
    SignIn(words, SecretText());
  } else if (!callbacks_.ask_password(words)) {
    callbacks_.error("no password: none is stored for this account and VEXALO_PASSWORD is not set");
  }
}

void ConsoleCommands::SignIn(const std::vector<std::string>& words, const SecretText& password) {
  if (!window_->CanSignIn()) {
    callbacks_.error("signing in is not available");
    return;
  }
  ServerOverride server;
  if (words.size() > 2 && !ServerOverride::Parse(words[2], &server)) {
    const size_t colon = words[2].rfind(':');
    if (colon == std::string::npos || colon == 0) {
      Usage("/signin");
    } else {
      callbacks_.error("not a port: " + words[2].substr(colon + 1));
    }
    return;
  }
  window_->SignIn(words[1], password, server.host, server.port);
}

void ConsoleCommands::SignOut(const Line&) { window_->SignOut(); }

void ConsoleCommands::Roster(const Line&) { NeedsSession(window_->ShowRoster()); }

void ConsoleCommands::Status(const Line& line) {
  const std::string show = line.words.size() > 1 ? line.words[1] : "available";
  for (const ShowWord& word : kShowWords) {
    if (word.word == show) {
      NeedsSession(window_->SetStatus(word.show, word.invisible, line.RestAfter(2)));
      return;
    }
  }
  Usage(line.words[0]);
}

void ConsoleCommands::Message(const Line& line) {
  XmppAddress contact;
  if (!ParseContact(line, &contact)) return;
  const std::string text = line.RestAfter(2);
  if (text.empty()) {
    Usage(line.words[0]);
    return;
  }
  NeedsSession(window_->SendMessage(contact, text));
}

void ConsoleCommands::Typing(const Line& line) {
  XmppAddress contact;
  ChatState state = ChatState::kComposing;
  if (!ParseContact(line, &contact)) return;
  if (line.words.size() > 2 && !ParseChatState(line.words[2], &state)) {
    Usage(line.words[0]);
    return;
  }
  NeedsSession(window_->SendChatState(contact, state));
}

void ConsoleCommands::Add(const Line& line) {
  XmppAddress contact;
  if (ParseContact(line, &contact)) NeedsSession(window_->AddContact(contact, line.RestAfter(2)));
}

void ConsoleCommands::Remove(const Line& line) {
  XmppAddress contact;
  if (ParseContact(line, &contact)) NeedsSession(window_->RemoveContact(contact));
}

void ConsoleCommands::Accept(const Line& line) {
  XmppAddress contact;
  if (ParseContact(line, &contact)) NeedsSession(window_->AcceptSubscription(contact));
}

void ConsoleCommands::Deny(const Line& line) {
  XmppAddress contact;
  if (ParseContact(line, &contact)) NeedsSession(window_->DenySubscription(contact));
}

void ConsoleCommands::SendFile(const Line& line) {
  XmppAddress contact;
  if (!ParseContact(line, &contact)) return;
  const std::string path = line.RestAfter(2);
  if (path.empty()) {
    Usage(line.words[0]);
    return;
  }
  std::string error;
  if (!window_->SendFile(contact, path, &error)) callbacks_.error(error);
}

void ConsoleCommands::AcceptFile(const Line& line) {
  if (line.words.size() < 2) {
    Usage(line.words[0]);
    return;
  }
  std::string error;
  if (!window_->AcceptFile(line.words[1], line.RestAfter(2), &error)) callbacks_.error(error);
}

void ConsoleCommands::RejectFile(const Line& line) {
  if (line.words.size() != 2) {
    Usage(line.words[0]);
    return;
  }
  std::string error;
  if (!window_->RejectFile(line.words[1], &error)) callbacks_.error(error);
}

void ConsoleCommands::Call(const Line& line) {
  XmppAddress contact;
  if (line.words.size() != 2 || !ParseContact(line, &contact)) {
    Usage("/call");
    return;
  }
  if (!window_->PlaceCall(contact)) {
    callbacks_.error("cannot call " + contact.ToString() + " now");
  }
}

void ConsoleCommands::OnCall(const Line& line, CallAction action, const std::string& verb) {
  XmppAddress contact;
  if (line.words.size() > 2 || (line.words.size() == 2 && !ParseContact(line, &contact))) {
    Usage(line.words[0]);
    return;
  }
  if (!window_->ActOnCall(action, contact)) callbacks_.error("no call to " + verb);
}

void ConsoleCommands::Devices(const Line&) {
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
  if (!window_->ListAudioDevices(&inputs, &outputs)) {
    callbacks_.error("no calls: sign in with calls on");
    return;
  }
  for (size_t i = 0; i < inputs.size(); ++i) {
    callbacks_.info("input " + std::to_string(i) + ": " + inputs[i]);
  }
  for (size_t i = 0; i < outputs.size(); ++i) {
    callbacks_.info("output " + std::to_string(i) + ": " + outputs[i]);
  }
}

void ConsoleCommands::Audio(const Line& line) {
  int devices[2] = {0, 0};
  bool ok = line.words.size() == 3;
  for (size_t i = 0; ok && i < 2; ++i) {
    const std::string& word = line.words[i + 1];
    auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), devices[i]);
    ok = error == std::errc() && end == word.data() + word.size() && devices[i] >= -1;
  }
  if (!ok) {
    Usage("/audio");
    return;
  }
  if (!window_->SetAudioDevices(devices[0], devices[1])) {
    callbacks_.error("could not switch the sound devices");
  }
}

}  // namespace vexalo
