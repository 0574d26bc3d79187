#pragma once

#include <functional>

#include "ui/console/consolewindow.h"

namespace vexalo {

class ChatSession;
class FileTransfers;
class PhoneWindow;

// The console's commands carried out on the real main window and its chat session.
class PhoneWindowConsole : public ConsoleWindow {
 public:
  // `show_roster` prints the session's contacts and presences as events.
  PhoneWindowConsole(PhoneWindow* window, std::function<void(ChatSession*)> show_roster)
      : window_(window), show_roster_(std::move(show_roster)) {}

  bool CanSignIn() const override;
  bool HasStoredPassword(const XmppAddress& jid) const override;
  void SignIn(const std::string& jid, const SecretText& password, const std::string& host,
              uint16_t port) override;
  void SignOut() override;
  bool IsSignedOut() const override;

  bool SetStatus(ShowState show, bool invisible, const std::string& text) override;
  bool SendMessage(const XmppAddress& to, const std::string& text) override;
  bool SendChatState(const XmppAddress& to, ChatState state) override;
  bool AddContact(const XmppAddress& contact, const std::string& text) override;
  bool RemoveContact(const XmppAddress& contact) override;
  bool AcceptSubscription(const XmppAddress& contact) override;
  bool DenySubscription(const XmppAddress& contact) override;
  bool ShowRoster() override;
  bool SendFile(const XmppAddress& to, const std::string& path, std::string* error) override;
  bool AcceptFile(const std::string& id, const std::string& folder, std::string* error) override;
  bool RejectFile(const std::string& id, std::string* error) override;
  bool PlaceCall(const XmppAddress& contact) override;
  bool ActOnCall(CallAction action, const XmppAddress& contact) override;
  bool ListAudioDevices(std::vector<std::string>* inputs,
                        std::vector<std::string>* outputs) override;
  bool SetAudioDevices(int input, int output) override;

 private:
  // The signed-in connection's file transfers, or null with `error` set.
  FileTransfers* Transfers(std::string* error) const;
  // Runs `action` on the signed-in session; false when there is none.
  bool WithSession(const std::function<void(ChatSession&)>& action);

  PhoneWindow* window_;
  std::function<void(ChatSession*)> show_roster_;
};

}  // namespace vexalo
