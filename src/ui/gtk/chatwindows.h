#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "base/runtime/signal.h"
#include "ui/gtk/chatthemefolders.h"
#include "ui/gtk/chatwindow.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

class ChatSession;
class ContactListModel;
class PhoneApp;
class SettingsStore;
struct ChatMessage;
struct PresenceStatus;

// One chat window per contact, opened from the contact list, a notification or an incoming
// message, and what goes between the windows and the signed-in session: messages both ways,
// typing states, messages that could not be sent, and the contact's header.
class ChatWindows : public SlotHost {
 public:
  ChatWindows(PhoneApp* app, SettingsStore* settings, const ContactListModel* contacts);
  ~ChatWindows() override;
  ChatWindows(const ChatWindows&) = delete;
  ChatWindows& operator=(const ChatWindows&) = delete;

  // The contact's window, opened when there is none, in front.
  ChatWindow* Open(const std::string& contact);
  // The contact's window, or null.
  ChatWindow* Find(const std::string& contact) const;

  // A message or typing notice from the session (MainView passes them on).
  void OnMessage(const ChatMessage& message);

 private:
  struct Conversation {
    std::unique_ptr<ChatWindow> window;
    // Replies go to the resource that wrote last, until it goes away.
    XmppAddress reply_to;
    // The presence last shown, so that a change becomes a line in the conversation.
    std::string presence;
  };

  ChatWindow* Ensure(const std::string& contact);
  void OnSessionStarted(ChatSession* session);
  void OnSessionEnded();
  void OnPresence(const PresenceStatus& status);
  void OnErrorMessage(const ChatMessage& message);
  void Send(const std::string& contact, const std::string& text);
  void SendChatState(const std::string& contact, ChatState state);
  void Close(const std::string& contact);
  void RefreshHeader(const std::string& contact);
  ChatWindow::Options WindowOptions() const;
  // Closing a window and refreshing headers wait for the main loop's next idle turn: a window
  // is not deleted from inside its own signal, and the list model takes changes when idle.
  void Later(std::set<std::string>* what, const std::string& contact);
  static gboolean OnIdle(gpointer self);

  PhoneApp* app_;
  SettingsStore* settings_;
  const ContactListModel* contacts_;
  ChatThemeFolders folders_;
  std::map<std::string, Conversation> conversations_;
  std::set<std::string> to_close_;
  std::set<std::string> to_refresh_;
  guint idle_ = 0;
};

}  // namespace vexalo
