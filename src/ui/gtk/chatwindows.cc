#include "ui/gtk/chatwindows.h"

#include <ctime>

#include "app/chatsession.h"
#include "app/phoneapp.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "base/runtime/logging.h"
#include "ui/gtk/contactlistmodel.h"
#include "xmpp/messages/chatmessage.h"
#include "xmpp/presence/presencestatus.h"

namespace vexalo {
namespace {

std::time_t Now() { return std::time(nullptr); }

}  // namespace

ChatWindows::ChatWindows(PhoneApp* app, SettingsStore* settings, const ContactListModel* contacts)
    : app_(app),
      settings_(settings),
      contacts_(contacts),
      folders_(ChatThemeFolders::FromEnvironment()) {
  app_->SignalSessionStarted.Connect(this, &ChatWindows::OnSessionStarted);
  app_->SignalSessionEnded.Connect(this, &ChatWindows::OnSessionEnded);
  if (app_->session() != nullptr) OnSessionStarted(app_->session());
}

ChatWindows::~ChatWindows() {
  if (idle_ != 0) g_source_remove(idle_);
}

void ChatWindows::Later(std::set<std::string>* what, const std::string& contact) {
  what->insert(contact);
  // Low priority: after the contact list's own idle flush.
  if (idle_ == 0) idle_ = g_idle_add_full(G_PRIORITY_LOW, &ChatWindows::OnIdle, this, nullptr);
}

gboolean ChatWindows::OnIdle(gpointer data) {
  auto* self = static_cast<ChatWindows*>(data);
  self->idle_ = 0;
  const std::set<std::string> close = std::move(self->to_close_);
  const std::set<std::string> refresh = std::move(self->to_refresh_);
  self->to_close_.clear();
  self->to_refresh_.clear();
  for (const auto& contact : close) self->Close(contact);
  for (const auto& contact : refresh) self->RefreshHeader(contact);
  return G_SOURCE_REMOVE;
}

ChatWindow::Options ChatWindows::WindowOptions() const {
  const Settings& current = settings_->Current();
  ChatWindow::Options options;
  options.theme = current.theme;
  options.font_face = current.font_name;
  // The stored height is a character height: negative in pixels.
  options.font_pixels = current.font_size < 0 ? -current.font_size : current.font_size;
  options.view_source = settings_->ReadFlag("html_view_source");
  return options;
}

ChatWindow* ChatWindows::Find(const std::string& contact) const {
  auto found = conversations_.find(contact);
  return found != conversations_.end() ? found->second.window.get() : nullptr;
}

ChatWindow* ChatWindows::Ensure(const std::string& contact) {
  Conversation& conversation = conversations_[contact];
  if (conversation.window != nullptr) return conversation.window.get();
  conversation.reply_to = XmppAddress(contact);
  const std::string own = app_->bound_address().IsValid()
                              ? app_->bound_address().WithoutResource().ToString()
                              : std::string("Me");
  conversation.window = std::make_unique<ChatWindow>(contact, own, WindowOptions(), folders_);
  ChatWindow* window = conversation.window.get();
  window->SignalSend.Connect(this, [this, contact](const std::string& text) { Send(contact, text); });
  window->SignalChatState.Connect(
      this, [this, contact](ChatState state) { SendChatState(contact, state); });
  window->SignalClosed.Connect(this, [this, contact] { Later(&to_close_, contact); });
  RefreshHeader(contact);
  return window;
}

ChatWindow* ChatWindows::Open(const std::string& contact) {
  const XmppAddress address(contact);
  if (!address.IsValid()) return nullptr;
  ChatWindow* window = Ensure(address.WithoutResource().ToString());
  window->Present();
  return window;
}

void ChatWindows::Close(const std::string& contact) {
  auto found = conversations_.find(contact);
  if (found == conversations_.end()) return;
  conversations_.erase(found);
}

void ChatWindows::RefreshHeader(const std::string& contact) {
  ChatWindow* window = Find(contact);
  if (window == nullptr) return;
  const ContactData* data = contacts_ != nullptr ? contacts_->Find(contact) : nullptr;
  if (data == nullptr) {
    window->SetContact(contact, "Offline", "", "");
    return;
  }
  const std::string presence = PresenceText(data->presence);
  window->SetContact(data->DisplayName(), presence, data->status, "");
  std::string& shown = conversations_[contact].presence;
  if (!shown.empty() && shown != presence) {
    window->ShowSystem(data->DisplayName() + " is now " + presence, Now());
  }
  shown = presence;
}

void ChatWindows::OnSessionStarted(ChatSession* session) {
  session->SignalPresence.Connect(this, &ChatWindows::OnPresence);
  session->SignalRosterItem.Connect(this, [this](const RosterItem& item) {
    // The list model takes the change in its next idle turn; the header follows after it.
    const std::string contact = item.address.WithoutResource().ToString();
    if (Find(contact) != nullptr) Later(&to_refresh_, contact);
  });
  session->SignalErrorMessage.Connect(this, &ChatWindows::OnErrorMessage);
  for (auto& [contact, conversation] : conversations_) {
    conversation.window->ShowSystem("Signed in", Now());
  }
}

void ChatWindows::OnSessionEnded() {
  for (auto& [contact, conversation] : conversations_) {
    conversation.reply_to = XmppAddress(contact);
    conversation.window->ShowChatState(ChatState::kNone);
    conversation.window->ShowSystem("Signed out", Now());
  }
}

void ChatWindows::OnPresence(const PresenceStatus& status) {
  const std::string contact = status.address.WithoutResource().ToString();
  auto found = conversations_.find(contact);
  if (found == conversations_.end()) return;
  Conversation& conversation = found->second;
  const bool gone = !status.available || status.show == ShowState::kAway ||
                    status.show == ShowState::kXa;
  if (gone && conversation.reply_to == status.address) {
    conversation.reply_to = status.address.WithoutResource();
  }
  Later(&to_refresh_, contact);
}

void ChatWindows::OnMessage(const ChatMessage& message) {
  if (!message.from.IsValid()) return;
  const std::string contact = message.from.WithoutResource().ToString();
  ChatWindow* window = Find(contact);
  if (message.has_body && !message.body.empty()) {
    window = Ensure(contact);
    conversations_[contact].reply_to = message.from;
    window->ShowIncoming(message.body, Now());
    // Shown without taking the focus from what the user is typing elsewhere.
    gtk_widget_set_visible(GTK_WIDGET(window->window()), TRUE);
  }
  if (window != nullptr && message.chat_state != ChatState::kNone) {
    window->ShowChatState(message.chat_state);
  }
}

void ChatWindows::OnErrorMessage(const ChatMessage& message) {
  const std::string contact = message.from.WithoutResource().ToString();
  auto found = conversations_.find(contact);
  if (found == conversations_.end() || !message.has_body) return;
  Conversation& conversation = found->second;
  if (conversation.reply_to.HasResource()) {
    // The resource went away: try the contact's bare address once, without echoing again.
    conversation.reply_to = conversation.reply_to.WithoutResource();
    if (ChatSession* session = app_->session()) {
      session->SendMessage(conversation.reply_to, message.body);
      return;
    }
  }
  conversation.window->ShowSystem(
      "This message could not be delivered (" + message.from.ToString() + "): " + message.body,
      Now());
}

void ChatWindows::Send(const std::string& contact, const std::string& text) {
  ChatWindow* window = Find(contact);
  if (window == nullptr) return;
  ChatSession* session = app_->session();
  if (session == nullptr) {
    window->ShowSystem("Not sent, you are not signed in: " + text, Now());
    return;
  }
  session->SendMessage(conversations_[contact].reply_to, text);
  window->ShowOutgoing(text, Now());
}

void ChatWindows::SendChatState(const std::string& contact, ChatState state) {
  ChatSession* session = app_->session();
  if (session == nullptr) return;
  session->SendChatState(conversations_[contact].reply_to, state);
}

}  // namespace vexalo
