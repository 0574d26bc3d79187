#pragma once

#include <gtk/gtk.h>

#include <ctime>
#include <memory>
#include <string>

#include "base/runtime/signal.h"
#include "ui/gtk/chatview.h"
#include "xmpp/messages/chatstate.h"

namespace vexalo {

// The conversation with one contact in its own window: the contact's picture, name, presence
// and status in the header, the chat view, the contact's typing state, and a multi-line entry
// (Enter sends, Shift+Enter starts a new line). Says what the user does through its signals.
class ChatWindow : public SlotHost {
 public:
  // After this long without a key, "composing" becomes "paused".
  static constexpr guint kPausedSeconds = 5;

  struct Options {
    std::string theme;
    std::string font_face;
    int font_pixels = 0;
    bool view_source = false;  // the "View Source" command in the window's menu
  };

  ChatWindow(const std::string& contact, const std::string& own_name, const Options& options,
             ChatThemeFolders folders);
  ~ChatWindow() override;
  ChatWindow(const ChatWindow&) = delete;
  ChatWindow& operator=(const ChatWindow&) = delete;

  GtkWindow* window() const { return GTK_WINDOW(window_); }
  ChatView* view() { return &view_; }
  const std::string& contact() const { return contact_; }

  void Present();
  // Header: the contact's name, presence, status text and picture (a file; empty: initials).
  void SetContact(const std::string& name, const std::string& presence, const std::string& status,
                  const std::string& picture_path);
  void ShowIncoming(const std::string& text, std::time_t time);
  void ShowOutgoing(const std::string& text, std::time_t time);
  void ShowSystem(const std::string& text, std::time_t time);
  void ShowChatState(ChatState state);

  // The user sends a message; the entry is already cleared.
  Signal<const std::string&> SignalSend;
  // Our typing state changed (composing, paused, active, gone).
  Signal<ChatState> SignalChatState;
  // The user closed the window; the owner deletes it (not from inside this signal).
  Signal<> SignalClosed;

 private:
  static gboolean OnKey(GtkEventControllerKey* keys, guint keyval, guint keycode,
                        GdkModifierType state, gpointer self);
  static void OnBufferChanged(GtkTextBuffer* buffer, gpointer self);
  static gboolean OnPaused(gpointer self);
  static gboolean OnCloseRequest(GtkWindow* window, gpointer self);
  void Send();
  void SetOwnState(ChatState state);

  std::string contact_;
  std::string contact_name_;
  std::string own_name_;
  std::string contact_picture_;
  ChatView view_;
  GtkWidget* window_;
  GtkWidget* title_;
  GtkWidget* avatar_;
  GtkWidget* typing_;
  GtkWidget* entry_;
  GtkWidget* send_;
  GtkWidget* menu_button_ = nullptr;
  ChatState own_state_ = ChatState::kActive;
  guint paused_timer_ = 0;
};

}  // namespace vexalo
