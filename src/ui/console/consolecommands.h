#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/runtime/secrettext.h"
#include "ui/console/consolewindow.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// The console's commands: one table gives each command's name, arguments, help and handler,
// so that dispatch and the help text cannot drift apart.
class ConsoleCommands {
 public:
  struct Callbacks {
    std::function<void(std::string_view)> info;
    std::function<void(std::string_view)> error;
    // Asks for the password on the terminal and signs in with `words` once it was typed;
    // false when there is no terminal to ask on.
    std::function<bool(const std::vector<std::string>& words)> ask_password;
    std::function<void()> quit;
  };

  // `password` comes from the environment at start (empty: none).
  ConsoleCommands(ConsoleWindow* window, SecretText password, Callbacks callbacks);

  // One command line (without its line end).
  void Handle(const std::string& line);
  // "/signin JID [HOST[:PORT]]" with the password decided.
  void SignIn(const std::vector<std::string>& words, const SecretText& password);
  // The help lines, one per command, from the table.
  static std::vector<std::string> HelpLines();

 private:
  struct Command;
  struct Line {
    std::vector<std::string> words;
    std::string text;  // the whole line, for arguments that hold spaces
    // The text after the first `count` words.
    std::string RestAfter(size_t count) const;
  };
  static const std::vector<Command>& Table();

  void Help(const Line& line);
  void Quit(const Line& line);
  void SignInCommand(const Line& line);
  void SignOut(const Line& line);
  void Roster(const Line& line);
  void Status(const Line& line);
  void Message(const Line& line);
  void Typing(const Line& line);
  void Add(const Line& line);
  void Remove(const Line& line);
  void Accept(const Line& line);
  void Deny(const Line& line);
  void SendFile(const Line& line);
  void AcceptFile(const Line& line);
  void RejectFile(const Line& line);
  void Call(const Line& line);
  void Answer(const Line& line) { OnCall(line, CallAction::kAnswer, "answer"); }
  void Reject(const Line& line) { OnCall(line, CallAction::kReject, "reject"); }
  void HangUp(const Line& line) { OnCall(line, CallAction::kHangUp, "hang up"); }
  void MuteCall(const Line& line) { OnCall(line, CallAction::kMute, "mute"); }
  void UnmuteCall(const Line& line) { OnCall(line, CallAction::kUnmute, "unmute"); }
  void HoldCall(const Line& line) { OnCall(line, CallAction::kHold, "hold"); }
  void ResumeCall(const Line& line) { OnCall(line, CallAction::kResume, "resume"); }
  void OnCall(const Line& line, CallAction action, const std::string& verb);
  void Devices(const Line& line);
  void Audio(const Line& line);

  bool ParseContact(const Line& line, XmppAddress* contact);
  // False (with "not signed in") when the window had no session for `done`.
  void NeedsSession(bool done);
  void Usage(const std::string& name);

  ConsoleWindow* window_;
  SecretText password_;
  Callbacks callbacks_;
};

}  // namespace vexalo
