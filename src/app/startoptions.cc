#include "app/startoptions.h"

#include <string_view>

#include "base/runtime/logging.h"

namespace vexalo {

namespace {

bool IsSwitch(std::string_view arg) { return arg.starts_with('/') || arg.starts_with("--"); }

// "/name" and "--name" give "name"; anything else nothing.
std::optional<std::string_view> SwitchName(std::string_view arg) {
  if (arg.starts_with("--") && arg.size() > 2) return arg.substr(2);
  if (arg.starts_with('/') && arg.size() > 1) return arg.substr(1);
  return std::nullopt;
}

// Arguments come from anywhere: keep the message on one line and free of control bytes.
std::string Printable(std::string_view text) { return PrintableText(text, 80); }

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine result;
  StartOptions& o = result.options;
  std::optional<std::string> log_text;
  std::optional<std::string> diag_text;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::optional<std::string_view> name = SwitchName(arg);
    if (!name) {
      result.unknown.push_back(arg);
      continue;
    }
    // The words up to the next switch.
    auto words = [&]() {
      std::string text;
      while (i + 1 < args.size() && !IsSwitch(args[i + 1])) {
        if (!text.empty()) text.push_back(' ');
        text += args[++i];
      }
      return text;
    };
    if (*name == "autostart") {
      o.autostart = true;
    } else if (*name == "forcestart") {
      o.forcestart = true;
    } else if (*name == "register") {
      o.register_app = true;
    } else if (*name == "unregister") {
      o.unregister_app = true;
    } else if (*name == "checkupdate") {
      o.checkupdate = true;
    } else if (*name == "noidmoraauth") {
      o.no_account_token = true;
    } else if (*name == "plaintextauth" || *name == "Embedding") {
      // Accepted for compatibility; no effect.
    } else if (*name == "factoryreset") {
      o.factoryreset = true;
    } else if (*name == "nomutex") {
      o.nomutex = true;
    } else if (*name == "help") {
      o.help = true;
    } else if (*name == "version") {
      o.version = true;
    } else if (*name == "console") {
      o.console = true;
    } else if (*name == "headless") {
      o.headless = true;
    } else if (*name == "service") {
      if (i + 1 < args.size() && !IsSwitch(args[i + 1])) {
        o.service_overrides.push_back(args[++i]);
      } else {
        result.missing_value.push_back(arg);
      }
    } else if (*name == "audio-in" || *name == "audio-out") {
      // A path may start with "/" like a switch: the next argument is the file whatever it is.
      if (i + 1 < args.size()) {
        (*name == "audio-in" ? o.audio_in : o.audio_out) = args[++i];
      } else {
        result.missing_value.push_back(arg);
      }
    } else if (*name == "auto-answer") {
      o.auto_answer = true;
    } else if (*name == "idmoraserver") {
      if (i + 1 < args.size() && !IsSwitch(args[i + 1])) {
        o.account_auth_server = args[++i];
      } else {
        result.missing_value.push_back(arg);
      }
    } else if (*name == "mailto") {
      // Everything after the switch belongs to the link, switches included.
      std::string text;
      while (i + 1 < args.size()) {
        if (!text.empty()) text.push_back(' ');
        text += args[++i];
      }
      if (text.empty()) {
        result.missing_value.push_back(arg);
      } else {
        o.mailto = std::move(text);
      }
    } else if (*name == "log") {
      log_text = words();
    } else if (*name == "diag") {
      const std::string rest = words();
      diag_text = rest.empty() ? std::string("diag") : "diag " + rest;
    } else {
      result.unknown.push_back(arg);
    }
  }
  if (log_text) {
    o.log_options = std::move(log_text);
  } else if (diag_text) {
    o.log_options = std::move(diag_text);
  }
  return result;
}

std::string CommandLine::ErrorText() const {
  std::string text;
  if (!unknown.empty()) {
    text = unknown.size() == 1 ? "unknown argument " : "unknown arguments ";
    for (size_t i = 0; i < unknown.size(); ++i) {
      if (i > 0) text += ", ";
      text += '\'';
      text += Printable(unknown[i]);
      text += '\'';
    }
  }
  for (const std::string& arg : missing_value) {
    if (!text.empty()) text += "; ";
    text += '\'';
    text += Printable(arg);
    text += "' needs a value";
  }
  return text + " (see --help)";
}

std::string UsageText() {
  return "Usage: vexalo [switches]\n"
         "Switches may be written /name or --name.\n"
         "  --autostart           started at log-in: the window is not shown\n"
         "  --forcestart          end a running instance and take its place\n"
         "  --checkupdate         check for an update at once\n"
         "  --noidmoraauth        sign in without the account-token step\n"
         "  --idmoraserver HOST:PORT  server of the account-token step\n"
         "  --mailto URL          hand a mail link to the running instance (or open it)\n"
         "  --log WORDS...        diagnostic log options, e.g. --log info debug tstamp\n"
         "  --diag WORDS...       the same, starting with \"diag\"\n"
         "  --nomutex             run beside another instance\n"
         "  --console             the terminal front end (commands on standard input,\n"
         "                        events on standard output; see the README)\n"
         "  --headless            no front end: the application and its hand-over socket\n"
         "  --service NAME=VALUE  where the service lives, e.g. xmpp_host=127.0.0.1\n"
         "                        (also VEXALO_SERVICE_NAME in the environment)\n"
         "  --audio-in FILE.wav   a sound file as the microphone (played in a loop)\n"
         "  --audio-out FILE.wav  record what calls play into a sound file\n"
         "  --auto-answer         the console answers every incoming call\n"
         "  --register            write the autostart entry (per the autostart option) and\n"
         "                        become the mail-link handler, then exit\n"
         "  --unregister          remove the autostart entry and the mail-link handler\n"
         "  --factoryreset        delete all stored settings and passwords, then exit\n"
         "  --plaintextauth, --Embedding  accepted, no effect\n"
         "  --help                show this text\n"
         "  --version             show the program's version\n"
         "Exit codes: 0 success (also after handing over to a running instance),\n"
         "1 failure, 2 usage error.\n";
}

}  // namespace vexalo
