#include "ui/console/phonewindowconsole.h"

#include "app/chatsession.h"
#include "app/filetransfers.h"
#include "app/linux/phonewindow.h"
#include "app/phoneapp.h"
#include "app/phonecalls.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "app/signinmanager.h"

namespace vexalo {

bool PhoneWindowConsole::WithSession(const std::function<void(ChatSession&)>& action) {
  ChatSession* session = window_->app()->session();
  if (session != nullptr) action(*session);
  return session != nullptr;
}

bool PhoneWindowConsole::CanSignIn() const { return window_->signin() != nullptr; }

bool PhoneWindowConsole::HasStoredPassword(const XmppAddress& jid) const {
  if (window_->accounts() == nullptr) return false;
  const std::string bare = jid.WithoutResource().ToString();
  for (const Account& account : window_->accounts()->accounts()) {
    if (account.jid == bare && !account.password.empty()) return true;
  }
  return false;
}

void PhoneWindowConsole::SignIn(const std::string& jid, const SecretText& password,
                                const std::string& host, uint16_t port) {
  window_->signin()->SignIn(jid, password, host, port);
}

void PhoneWindowConsole::SignOut() {
  if (window_->signin() != nullptr) window_->signin()->SignOut();
}

bool PhoneWindowConsole::IsSignedOut() const {
  return window_->signin() == nullptr ||
         window_->signin()->login_state() == LoginState::kSignedOut;
}

bool PhoneWindowConsole::SetStatus(ShowState show, bool invisible, const std::string& text) {
  return WithSession([&](ChatSession& session) { session.SetStatus(show, invisible, text); });
}

bool PhoneWindowConsole::SendMessage(const XmppAddress& to, const std::string& text) {
  return WithSession([&](ChatSession& session) { session.SendMessage(to, text); });
}

bool PhoneWindowConsole::SendChatState(const XmppAddress& to, ChatState state) {
  return WithSession([&](ChatSession& session) { session.SendChatState(to, state); });
}

bool PhoneWindowConsole::AddContact(const XmppAddress& contact, const std::string& text) {
  return WithSession([&](ChatSession& session) { session.AddContact(contact, text); });
}

bool PhoneWindowConsole::RemoveContact(const XmppAddress& contact) {
  return WithSession([&](ChatSession& session) { session.RemoveContact(contact); });
}

bool PhoneWindowConsole::AcceptSubscription(const XmppAddress& contact) {
  return WithSession([&](ChatSession& session) { session.AcceptSubscription(contact); });
}

bool PhoneWindowConsole::DenySubscription(const XmppAddress& contact) {
  return WithSession([&](ChatSession& session) { session.DenySubscription(contact); });
}

bool PhoneWindowConsole::ShowRoster() {
  return WithSession([&](ChatSession& session) { show_roster_(&session); });
}

FileTransfers* PhoneWindowConsole::Transfers(std::string* error) const {
  FileTransfers* transfers = window_->app()->file_transfers();
  if (transfers == nullptr) *error = "not signed in";
  return transfers;
}

bool PhoneWindowConsole::SendFile(const XmppAddress& to, const std::string& path, std::string* error) {
  FileTransfers* transfers = Transfers(error);
  if (transfers == nullptr) return false;
  // A tunnel goes to one client of the contact: a bare address means its best known one.
  XmppAddress target = to;
  ChatSession* session = window_->app()->session();
  if (to.IsBareAddress() && session != nullptr) {
    auto it = session->presences().find(to);
    if (it != session->presences().end() && it->second.address.HasResource()) target = it->second.address;
  }
  if (!target.HasResource()) {
    *error = to.ToString() + " is not online";
    return false;
  }
  return !transfers->SendFile(target.ToString(), path, error).empty();
}

bool PhoneWindowConsole::AcceptFile(const std::string& id, const std::string& folder, std::string* error) {
  FileTransfers* transfers = Transfers(error);
  return transfers != nullptr && transfers->AcceptFile(id, folder, error);
}

bool PhoneWindowConsole::RejectFile(const std::string& id, std::string* error) {
  FileTransfers* transfers = Transfers(error);
  return transfers != nullptr && transfers->RejectFile(id, error);
}

bool PhoneWindowConsole::PlaceCall(const XmppAddress& contact) {
  PhoneCalls* calls = window_->app()->calls();
  return calls != nullptr && calls->CallContact(contact);
}

bool PhoneWindowConsole::ActOnCall(CallAction action, const XmppAddress& contact) {
  PhoneCalls* calls = window_->app()->calls();
  ChatApp* app = calls != nullptr ? calls->FindCall(contact) : nullptr;
  if (app == nullptr) return false;
  const int32_t before = app->state();
  switch (action) {
    case CallAction::kAnswer: app->OnAnswerCommand(); break;
    case CallAction::kReject: app->OnRejectCommand(); break;
    case CallAction::kHangUp: app->OnHangUpCommand(); return true;
    case CallAction::kMute: app->Mute(); break;
    case CallAction::kUnmute:
      if (before == CUS_CALL_ON_MUTE) app->Resume();
      break;
    case CallAction::kHold: app->Hold(); break;
    case CallAction::kResume: app->Resume(); break;
  }
  // Answering and rejecting show in the state only when the peer has heard.
  return app->state() != before || action == CallAction::kAnswer ||
         action == CallAction::kReject;
}

bool PhoneWindowConsole::ListAudioDevices(std::vector<std::string>* inputs,
                                          std::vector<std::string>* outputs) {
  PhoneCalls* calls = window_->app()->calls();
  if (calls == nullptr) return false;
  *inputs = calls->SoundDevices(true);
  *outputs = calls->SoundDevices(false);
  return true;
}

bool PhoneWindowConsole::SetAudioDevices(int input, int output) {
  PhoneCalls* calls = window_->app()->calls();
  if (calls == nullptr) return false;
  const bool agc = window_->app()->settings() == nullptr ||
                   window_->app()->settings()->Current().adjust_mic;
  return calls->SetAudioOptions(agc, input, output);
}

}  // namespace vexalo
