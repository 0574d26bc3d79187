#include "ui/console/consolefrontend.h"

#include <termios.h>
#include <unistd.h>


#include "app/chatsession.h"
#include "app/filetransfers.h"
#include "app/linux/phonewindow.h"
#include "app/phoneapp.h"
#include "app/phonecalls.h"
#include "app/signinmanager.h"
#include "base/runtime/logging.h"
#include "base/runtime/secrettext.h"

namespace vexalo {
namespace {

const char* ShowName(const PresenceStatus& status) {
  if (!status.available) return "offline";
  switch (status.show) {
    case ShowState::kAway:
      return "away";
    case ShowState::kXa:
      return "xa";
    case ShowState::kDnd:
      return "dnd";
    case ShowState::kChat:
      return "chat";
    case ShowState::kOffline:
      return "offline";
    case ShowState::kOnline:
      break;
  }
  return "available";
}

const char* SubscriptionName(const RosterItem& item) {
  switch (item.subscription) {
    case RosterSubscription::kNone:
      return item.ask_subscribe ? "none+ask" : "none";
    case RosterSubscription::kTo:
      return "to";
    case RosterSubscription::kFrom:
      return item.ask_subscribe ? "from+ask" : "from";
    case RosterSubscription::kBoth:
      return "both";
    case RosterSubscription::kRemove:
      return "remove";
  }
  return "none";
}

// C1 controls drive terminals like C0 ones; the bidirectional embeddings, overrides and
// isolates reorder the rest of the line, so a peer could make one event read as another.
bool IsTerminalControl(gunichar code) {
  return (code >= 0x80 && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

ConsoleFrontEnd::ConsoleFrontEnd(PhoneWindow* window, int input_fd, FILE* out,
                                 SecretText password, std::function<void()> quit)
    : window_(window),
      console_window_(window, [this](ChatSession* session) { PrintRoster(session); }),
      commands_(&console_window_, std::move(password),
                {[this](std::string_view text) { Info(text); },
                 [this](std::string_view text) { Error(text); },
                 [this](const std::vector<std::string>& words) { return AskPassword(words); },
                 [this] { Quit(); }}),
      input_fd_(input_fd),
      out_(out),
      quit_(std::move(quit)) {
  if (SignInManager* signin = window_->signin()) {
    signin->SignalLoginState.Connect(this, &ConsoleFrontEnd::OnLoginState);
    signin->SignalStatus.Connect(this, [this](const std::string& text) { Emit({"status", text}); });
    signin->SignalError.Connect(this,
                                [this](const std::string& text, bool) { Error(text); });
  }
  window_->app()->SignalSessionStarted.Connect(this, &ConsoleFrontEnd::OnSessionStarted);
  window_->app()->SignalFileTransfersStarted.Connect(this, &ConsoleFrontEnd::OnFileTransfersStarted);
  window_->app()->SignalCallsStarted.Connect(this, &ConsoleFrontEnd::OnCallsStarted);
  if (input_fd_ >= 0) {
    channel_ = g_io_channel_unix_new(input_fd_);
    watch_ = g_io_add_watch(channel_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                            &ConsoleFrontEnd::OnInputReady, this);
  }
  Info("Vexalo console: type /help for the commands");
}

ConsoleFrontEnd::~ConsoleFrontEnd() {
  SetPasswordEcho(true);
  if (watch_ != 0) g_source_remove(watch_);
  if (channel_ != nullptr) g_io_channel_unref(channel_);
}

std::string ConsoleFrontEnd::Field(std::string_view text) {
  std::string field;
  field.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const gunichar code = g_utf8_get_char_validated(text.data() + i,
                                                    static_cast<gssize>(text.size() - i));
    if (code == static_cast<gunichar>(-1) || code == static_cast<gunichar>(-2)) {
      // Not UTF-8: a stray byte could be a terminal's 8-bit control.
      ++i;
      continue;
    }
    const size_t length = static_cast<size_t>(g_utf8_skip[static_cast<unsigned char>(text[i])]);
    const char c = text[i];
    if (length > 1) {
      if (!IsTerminalControl(code)) field.append(text.substr(i, length));
      i += length;
      continue;
    }
    ++i;
    switch (c) {
      case '\\':
        field += "\\\\";
        break;
      case '\t':
        field += "\\t";
        break;
      case '\n':
        field += "\\n";
        break;
      case '\r':
        field += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) field += c;
    }
  }
  return field;
}

void ConsoleFrontEnd::Emit(std::initializer_list<std::string_view> fields) {
  std::string line;
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) line += '\t';
    line += first ? std::string(field) : Field(field);
    first = false;
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

gboolean ConsoleFrontEnd::OnInputReady(GIOChannel*, GIOCondition condition, gpointer data) {
  auto* self = static_cast<ConsoleFrontEnd*>(data);
  char buffer[4096];
  const ssize_t n = read(self->input_fd_, buffer, sizeof(buffer));
  if (n > 0) {
    self->HandleInput(std::string_view(buffer, static_cast<size_t>(n)));
    return TRUE;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR) && !(condition & G_IO_HUP)) return TRUE;
  self->watch_ = 0;
  self->HandleEndOfInput();
  return FALSE;
}

void ConsoleFrontEnd::HandleInput(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    const std::string_view part = bytes.substr(0, end);
    if (!discarding_long_line_) {
      if (pending_.size() + part.size() > kMaxLineBytes) {
        discarding_long_line_ = true;
        pending_.clear();
      } else {
        pending_.append(part);
      }
    }
    if (end == std::string_view::npos) return;
    bytes.remove_prefix(end + 1);
    if (discarding_long_line_) {
      discarding_long_line_ = false;
      Error("line too long: ignored");
      continue;
    }
    std::string line;
    line.swap(pending_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    HandleLine(line);
  }
}

void ConsoleFrontEnd::HandleEndOfInput() {
  if (!pending_.empty()) {
    std::string line;
    line.swap(pending_);
    HandleLine(line);
  }
  Quit();
}

void ConsoleFrontEnd::SetPasswordEcho(bool on) {
  if (input_fd_ < 0 || !isatty(input_fd_)) return;
  termios mode{};
  if (tcgetattr(input_fd_, &mode) != 0) return;
  if (on) {
    mode.c_lflag |= ECHO;
  } else {
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  }
  tcsetattr(input_fd_, TCSANOW, &mode);
}

bool ConsoleFrontEnd::AskPassword(const std::vector<std::string>& words) {
  if (input_fd_ < 0 || !isatty(input_fd_)) return false;
  signin_words_ = words;
  awaiting_password_ = true;
  SetPasswordEcho(false);
  std::fputs("password: ", stderr);
  std::fflush(stderr);
  return true;
}

void ConsoleFrontEnd::HandleLine(const std::string& line) {
  if (awaiting_password_) {
    awaiting_password_ = false;
    SetPasswordEcho(true);
    std::fputs("\n", stderr);
    std::string clear = line;
    const SecretText password = SecretText::FromClearText(clear);
    WipeString(&clear);
    commands_.SignIn(signin_words_, password);
    signin_words_.clear();
    return;
  }
  commands_.Handle(line);
}

void ConsoleFrontEnd::Quit() {
  if (quitting_) return;
  quitting_ = true;
  if (!console_window_.IsSignedOut()) console_window_.SignOut();
  if (quit_) quit_();
}

void ConsoleFrontEnd::PrintRoster(ChatSession* session) {
  for (const auto& [address, item] : session->roster()) OnRosterItem(item);
  for (const auto& [address, status] : session->presences()) OnPresence(status);
}

void ConsoleFrontEnd::OnLoginState(LoginState state) { Emit({"state", LoginStateName(state)}); }

void ConsoleFrontEnd::OnSessionStarted(ChatSession* session) {
  session->SignalRosterItem.Connect(this, &ConsoleFrontEnd::OnRosterItem);
  session->SignalRosterRemoved.Connect(
      this, [this](const XmppAddress& address) { Emit({"removed", address.ToString()}); });
  session->SignalPresence.Connect(this, &ConsoleFrontEnd::OnPresence);
  session->SignalMessage.Connect(this, &ConsoleFrontEnd::OnMessage);
  session->SignalSubscription.Connect(
      this, [this](const XmppAddress& from, const std::string& kind) {
        Emit({"subscription", from.ToString(), kind});
      });
  session->SignalMail.Connect(this,
                              [this](int count) { Emit({"mail", std::to_string(count)}); });
}

void ConsoleFrontEnd::OnRosterItem(const RosterItem& item) {
  Emit({"roster", item.address.ToString(), item.name, SubscriptionName(item)});
}

void ConsoleFrontEnd::OnPresence(const PresenceStatus& status) {
  Emit({"presence", status.address.ToString(), ShowName(status), status.status});
}

void ConsoleFrontEnd::OnMessage(const ChatMessage& message) {
  if (message.has_body) Emit({"msg", message.from.ToString(), message.body});
  if (message.chat_state != ChatState::kNone) {
    Emit({"typing", message.from.ToString(), ChatStateText(message.chat_state)});
  }
}

void ConsoleFrontEnd::OnFileTransfersStarted(FileTransfers* transfers) {
  transfers->FileOffered.Connect(
      this, [this](const std::string& jid, const std::string& id, const std::string& name, uint64_t size) {
        Emit({"fileoffer", jid, id, name, std::to_string(size)});
      });
  transfers->FileProgress.Connect(this, [this](const std::string& id, uint64_t bytes, uint64_t total) {
    Emit({"fileprogress", id, std::to_string(bytes), std::to_string(total)});
  });
  transfers->FileDone.Connect(
      this, [this](const std::string& id, const std::string& path) { Emit({"filedone", id, path}); });
  transfers->FileFailed.Connect(
      this, [this](const std::string& id, const std::string& reason) { Emit({"filefailed", id, reason}); });
}

void ConsoleFrontEnd::OnCallsStarted(PhoneCalls* calls) {
  calls->SignalCallState.Connect(this, [this, calls](const XmppAddress& contact, int32_t state) {
    Emit({"call", contact.ToString(), CallUserStateName(state)});
    if (auto_answer_ && state == CUS_INCOMING_RING) {
      if (ChatApp* app = calls->FindCall(contact)) app->OnAnswerCommand();
    }
  });
  calls->SignalCallQuality.Connect(
      this, [this](const XmppAddress& contact, uint32_t rtt, const std::string& path) {
        Emit({"callquality", contact.ToString(), std::to_string(rtt), path});
      });
  calls->SignalLevels.Connect(this, [this](const AudioLevels& levels) {
    Emit({"levels", std::to_string(levels.input_level), std::to_string(levels.output_level)});
  });
}

}  // namespace vexalo
