#pragma once

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <string>

#include "base/runtime/signal.h"

namespace vexalo {

class SettingsStore;

// Desktop notifications through GNotification: a message while the window is not in front,
// a contact request, new mail. Registers the application id on the session bus (without a
// bus there are simply no notifications).
class DesktopNotifier {
 public:
  DesktopNotifier(GtkWindow* window, SettingsStore* settings);
  ~DesktopNotifier();
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;

  void Message(const std::string& from, const std::string& body);
  void SubscriptionRequest(const std::string& address);
  void Mail(int count);

  // The user clicked a message's notification: the sender's address.
  Signal<const std::string&> SignalOpenChat;

 private:
  void Send(const char* id, const std::string& title, const std::string& body);
  // With a default action that opens the conversation with `contact`.
  void SendForChat(const std::string& contact, const std::string& title, const std::string& body);

  GtkWindow* window_;
  SettingsStore* settings_;
  GApplication* application_ = nullptr;  // null when it could not register
};

}  // namespace vexalo
