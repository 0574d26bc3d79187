#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vexalo {

// The switches of the command line. Each switch is a whole argument, written "/name" or
// "--name" (case-sensitive); a switch with a value takes the arguments that follow it.
struct StartOptions {
  bool autostart = false;         // started at log-in: the window is not shown
  bool forcestart = false;        // end a running instance and take over
  bool register_app = false;      // write autostart entry and mail-link handler, then exit
  bool unregister_app = false;    // remove both, then exit
  bool checkupdate = false;       // check for an update now
  bool no_account_token = false;  // "/noidmoraauth": no account-token step before sign-in
  bool factoryreset = false;      // delete every stored value, then exit
  bool nomutex = false;           // no single-instance guard, no Process values
  bool help = false;
  bool version = false;
  bool console = false;  // the terminal front end instead of a window
  bool headless = false;  // no front end at all: the application and its hand-over socket
  // "--service NAME=VALUE" (repeatable): where the service lives, for private deployments.
  std::vector<std::string> service_overrides;
  // "/idmoraserver host:port": the account-token server.
  std::optional<std::string> account_auth_server;
  // "/mailto URL...": every argument after the switch, joined by spaces.
  std::optional<std::string> mailto;
  // "/log WORDS..." or "/diag WORDS...": the words up to the next switch; "/diag" puts "diag"
  // first. "/log" wins when both are given.
  std::optional<std::string> log_options;
  // "--audio-in FILE.wav", "--audio-out FILE.wav": sound files in place of the microphone and
  // the speaker, so that calls can be scripted.
  std::optional<std::string> audio_in;
  std::optional<std::string> audio_out;
  bool auto_answer = false;  // "--auto-answer": the console answers every incoming call
};

struct CommandLine {
  StartOptions options;
  // Arguments that are no switch of ours, as given.
  std::vector<std::string> unknown;
  // Switches that lack their value.
  std::vector<std::string> missing_value;

  bool ok() const { return unknown.empty() && missing_value.empty(); }
  // One line naming every problem, for standard error.
  std::string ErrorText() const;
};

// `args` are the arguments after the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The --help text.
std::string UsageText();

}  // namespace vexalo
