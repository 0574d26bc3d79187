#include "ui/console/consolefrontend.h"

#include <termios.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <sstream>

#include "app/chatsession.h"
#include "app/linux/phonewindow.h"
#include "app/phoneapp.h"
#include "app/signinmanager.h"
#include "base/runtime/logging.h"
#include "base/runtime/secrettext.h"
#include "platform/secretstore.h"

namespace vexalo {
namespace {

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

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

}  // namespace

ConsoleFrontEnd::ConsoleFrontEnd(PhoneWindow* window, int input_fd, FILE* out,
                                 std::function<void()> quit)
    : window_(window), input_fd_(input_fd), out_(out), quit_(std::move(quit)) {
  if (SignInManager* signin = window_->signin()) {
    signin->SignalLoginState.Connect(this, &ConsoleFrontEnd::OnLoginState);
    signin->SignalStatus.Connect(this, [this](const std::string& text) { Emit({"status", text}); });
    signin->SignalError.Connect(this,
                                [this](const std::string& text, bool) { Error(text); });
  }
  window_->app()->SignalSessionStarted.Connect(this, &ConsoleFrontEnd::OnSessionStarted);
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
  for (char c : text) {
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

std::string ConsoleFrontEnd::RestAfter(const std::string& line, size_t words) {
  size_t pos = 0;
  for (size_t i = 0; i < words; ++i) {
    pos = line.find_first_not_of(" \t", pos);
    if (pos == std::string::npos) return {};
    pos = line.find_first_of(" \t", pos);
    if (pos == std::string::npos) return {};
  }
  pos = line.find_first_not_of(" \t", pos);
  return pos == std::string::npos ? std::string() : line.substr(pos);
}

ChatSession* ConsoleFrontEnd::Session() {
  ChatSession* session = window_->app()->session();
  if (session == nullptr) Error("not signed in");
  return session;
}

bool ConsoleFrontEnd::ParseContact(const std::vector<std::string>& words, XmppAddress* contact) {
  if (words.size() < 2) {
    Error(words[0] + " needs an address");
    return false;
  }
  *contact = XmppAddress(words[1]);
  if (!contact->IsValid()) {
    Error("not a valid address: " + words[1]);
    return false;
  }
  return true;
}

void ConsoleFrontEnd::HandleLine(const std::string& line) {
  if (awaiting_password_) {
    awaiting_password_ = false;
    SetPasswordEcho(true);
    std::fputs("\n", stderr);
    SignIn(signin_words_, line);
    signin_words_.clear();
    return;
  }
  const std::vector<std::string> words = SplitWords(line);
  if (words.empty()) return;
  const std::string& command = words[0];
  if (command == "/help") {
    PrintHelp();
  } else if (command == "/quit") {
    Quit();
  } else if (command == "/signin") {
    if (words.size() < 2 || words.size() > 3) {
      Error("usage: /signin JID [HOST[:PORT]]");
      return;
    }
    const char* env_password = std::getenv("VEXALO_PASSWORD");
    const XmppAddress jid(words[1]);
    bool stored = false;
    if (window_->accounts() != nullptr && jid.IsValid()) {
      for (const Account& account : window_->accounts()->accounts()) {
        stored = stored || (account.jid == jid.WithoutResource().ToString() &&
                            !account.password.empty());
      }
    }
    if (env_password != nullptr && *env_password != '\0') {
      SignIn(words, env_password);
    } else if (stored) {
      SignIn(words, "");
    } else if (input_fd_ >= 0 && isatty(input_fd_)) {
      signin_words_ = words;
      awaiting_password_ = true;
      SetPasswordEcho(false);
      std::fputs("password: ", stderr);
      std::fflush(stderr);
    } else {
      Error("no password: none is stored for this account and VEXALO_PASSWORD is not set");
    }
  } else if (command == "/signout") {
    if (window_->signin() != nullptr) window_->signin()->SignOut();
  } else if (command == "/roster") {
    PrintRoster();
  } else if (command == "/status") {
    ChatSession* session = Session();
    if (session == nullptr) return;
    const std::string show = words.size() > 1 ? words[1] : "available";
    const std::string text = RestAfter(line, 2);
    if (show == "available") {
      session->SetStatus(ShowState::kOnline, false, text);
    } else if (show == "away") {
      session->SetStatus(ShowState::kAway, false, text);
    } else if (show == "xa") {
      session->SetStatus(ShowState::kXa, false, text);
    } else if (show == "dnd") {
      session->SetStatus(ShowState::kDnd, false, text);
    } else if (show == "chat") {
      session->SetStatus(ShowState::kChat, false, text);
    } else if (show == "invisible") {
      session->SetStatus(ShowState::kOnline, true, text);
    } else {
      Error("usage: /status available|away|xa|dnd|chat|invisible [text]");
    }
  } else if (command == "/msg") {
    XmppAddress contact;
    if (!ParseContact(words, &contact)) return;
    const std::string text = RestAfter(line, 2);
    if (text.empty()) {
      Error("usage: /msg JID text");
      return;
    }
    if (ChatSession* session = Session()) session->SendMessage(contact, text);
  } else if (command == "/typing") {
    XmppAddress contact;
    ChatState state = ChatState::kComposing;
    if (!ParseContact(words, &contact)) return;
    if (words.size() > 2 && !ParseChatState(words[2], &state)) {
      Error("usage: /typing JID [active|composing|paused|inactive|gone]");
      return;
    }
    if (ChatSession* session = Session()) session->SendChatState(contact, state);
  } else if (command == "/add") {
    XmppAddress contact;
    if (!ParseContact(words, &contact)) return;
    if (ChatSession* session = Session()) session->AddContact(contact, RestAfter(line, 2));
  } else if (command == "/remove") {
    XmppAddress contact;
    if (!ParseContact(words, &contact)) return;
    if (ChatSession* session = Session()) session->RemoveContact(contact);
  } else if (command == "/accept") {
    XmppAddress contact;
    if (!ParseContact(words, &contact)) return;
    if (ChatSession* session = Session()) session->AcceptSubscription(contact);
  } else if (command == "/deny") {
    XmppAddress contact;
    if (!ParseContact(words, &contact)) return;
    if (ChatSession* session = Session()) session->DenySubscription(contact);
  } else {
    Error("unknown command: " + command + " (type /help)");
  }
}

void ConsoleFrontEnd::SignIn(const std::vector<std::string>& words, const std::string& password) {
  SignInManager* signin = window_->signin();
  if (signin == nullptr) {
    Error("signing in is not available");
    return;
  }
  std::string host;
  uint16_t port = 0;
  if (words.size() > 2) {
    const std::string& server = words[2];
    const size_t colon = server.rfind(':');
    host = server.substr(0, colon);
    if (colon != std::string::npos) {
      unsigned value = 0;
      const char* begin = server.data() + colon + 1;
      const char* end = server.data() + server.size();
      const auto [stop, error] = std::from_chars(begin, end, value);
      if (error != std::errc() || stop != end || value == 0 || value > 65535) {
        Error("not a port: " + server.substr(colon + 1));
        return;
      }
      port = static_cast<uint16_t>(value);
    }
    if (host.empty()) {
      Error("usage: /signin JID [HOST[:PORT]]");
      return;
    }
  }
  std::string clear = password;
  const SecretText secret = SecretText::FromClearText(clear);
  WipeString(&clear);
  signin->SignIn(words[1], secret, host, port);
}

void ConsoleFrontEnd::Quit() {
  if (quitting_) return;
  quitting_ = true;
  SignInManager* signin = window_->signin();
  if (signin != nullptr && signin->login_state() != LoginState::kSignedOut) {
    signin->SignOut();
  }
  if (quit_) quit_();
}

void ConsoleFrontEnd::PrintHelp() {
  for (const char* text :
       {"/signin JID [HOST[:PORT]]   sign in (password: stored, $VEXALO_PASSWORD or asked)",
        "/signout                    sign out", "/roster                     show the contacts",
        "/status available|away|xa|dnd|chat|invisible [text]",
        "/msg JID text               send a chat message",
        "/typing JID [composing|paused|active|inactive|gone]",
        "/add JID [text]             add a contact and ask to see its presence",
        "/remove JID                 remove a contact",
        "/accept JID | /deny JID     answer a subscription request", "/quit"}) {
    Info(text);
  }
}

void ConsoleFrontEnd::PrintRoster() {
  ChatSession* session = Session();
  if (session == nullptr) return;
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

}  // namespace vexalo
