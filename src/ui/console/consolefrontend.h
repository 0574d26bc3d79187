#pragma once

#include <glib.h>

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/runtime/secrettext.h"
#include "app/loginstate.h"
#include "base/runtime/signal.h"
#include "ui/console/consolecommands.h"
#include "ui/console/phonewindowconsole.h"

namespace vexalo {

class ChatSession;
class FileTransfers;
class PhoneCalls;
class PhoneWindow;
struct ChatMessage;
struct PresenceStatus;
struct RosterItem;

// The terminal front end: drives the main window with the commands a window would send and
// prints what happens, one event per line, as tab-separated fields after a keyword (see the
// README). Reads commands line by line from a file descriptor (standard input), so that it can
// be scripted through a pipe.
class ConsoleFrontEnd : public SlotHost {
 public:
  // Longest command line accepted; longer ones are refused whole.
  static constexpr size_t kMaxLineBytes = 64 * 1024;

  // `out` receives the events; `input_fd` the commands (-1: none, for tests that call
  // HandleLine directly). `password` is the one the environment gave at start (empty: none).
  // `quit` ends the program.
  ConsoleFrontEnd(PhoneWindow* window, int input_fd, FILE* out, SecretText password,
                  std::function<void()> quit);
  ~ConsoleFrontEnd() override;
  ConsoleFrontEnd(const ConsoleFrontEnd&) = delete;
  ConsoleFrontEnd& operator=(const ConsoleFrontEnd&) = delete;

  // One command line (without its line end).
  void HandleLine(const std::string& line);
  // Bytes read from the input; complete lines are handled.
  void HandleInput(std::string_view bytes);
  void HandleEndOfInput();

  // Escapes a field: backslash, tab and line ends as \\, \t, \n, \r; other control
  // characters (C0, DEL, C1), bidirectional overrides and isolates, and bytes that are not
  // UTF-8 dropped.
  static std::string Field(std::string_view text);

  // Answers every incoming call at once (scripts and benchmarks).
  void SetAutoAnswer(bool on) { auto_answer_ = on; }

 private:
  static gboolean OnInputReady(GIOChannel* channel, GIOCondition condition, gpointer self);
  void Emit(std::initializer_list<std::string_view> fields);
  void Info(std::string_view text) { Emit({"info", text}); }
  void Error(std::string_view text) { Emit({"error", text}); }
  void PrintRoster(ChatSession* session);
  bool AskPassword(const std::vector<std::string>& words);
  void Quit();
  void SetPasswordEcho(bool on);

  void OnLoginState(LoginState state);
  void OnSessionStarted(ChatSession* session);
  void OnRosterItem(const RosterItem& item);
  void OnPresence(const PresenceStatus& status);
  void OnMessage(const ChatMessage& message);
  void OnFileTransfersStarted(FileTransfers* transfers);
  void OnCallsStarted(PhoneCalls* calls);

  PhoneWindow* window_;
  PhoneWindowConsole console_window_;
  ConsoleCommands commands_;
  int input_fd_;
  FILE* out_;
  std::function<void()> quit_;
  GIOChannel* channel_ = nullptr;
  guint watch_ = 0;
  std::string pending_;
  bool discarding_long_line_ = false;
  // A sign-in waiting for the password typed on the terminal.
  std::vector<std::string> signin_words_;
  bool awaiting_password_ = false;
  bool quitting_ = false;
  bool auto_answer_ = false;
};

}  // namespace vexalo
