#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/runtime/secrettext.h"
#include "xmpp/messages/chatstate.h"
#include "xmpp/presence/presencestatus.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// What the user does to a call.
enum class CallAction { kAnswer, kReject, kHangUp, kMute, kUnmute, kHold, kResume };

// What the console's commands do to the main window: sign-in and the signed-in session's
// actions. The chat actions return false while no session exists.
class ConsoleWindow {
 public:
  virtual ~ConsoleWindow() = default;

  virtual bool CanSignIn() const = 0;
  virtual bool HasStoredPassword(const XmppAddress& jid) const = 0;
  virtual void SignIn(const std::string& jid, const SecretText& password, const std::string& host,
                      uint16_t port) = 0;
  virtual void SignOut() = 0;
  virtual bool IsSignedOut() const = 0;

  virtual bool SetStatus(ShowState show, bool invisible, const std::string& text) = 0;
  virtual bool SendMessage(const XmppAddress& to, const std::string& text) = 0;
  virtual bool SendChatState(const XmppAddress& to, ChatState state) = 0;
  virtual bool AddContact(const XmppAddress& contact, const std::string& text) = 0;
  virtual bool RemoveContact(const XmppAddress& contact) = 0;
  virtual bool AcceptSubscription(const XmppAddress& contact) = 0;
  virtual bool DenySubscription(const XmppAddress& contact) = 0;
  // Reports every contact and every known presence through the console's events.
  virtual bool ShowRoster() = 0;

  // Files over tunnels. False with `error` set when the command cannot be carried out
  // (not signed in, no such offer, an unreadable file...).
  virtual bool SendFile(const XmppAddress& to, const std::string& path, std::string* error) {
    (void)to;
    (void)path;
    *error = "not signed in";
    return false;
  }
  virtual bool AcceptFile(const std::string& id, const std::string& folder, std::string* error) {
    (void)id;
    (void)folder;
    *error = "not signed in";
    return false;
  }
  virtual bool RejectFile(const std::string& id, std::string* error) {
    (void)id;
    *error = "not signed in";
    return false;
  }
  // Calls; false while there are none to act on (not signed in, calls off, no such call).
  virtual bool PlaceCall(const XmppAddress& /*contact*/) { return false; }
  // `contact` invalid: the call with the audio focus, else a ringing one.
  virtual bool ActOnCall(CallAction /*action*/, const XmppAddress& /*contact*/) { return false; }
  virtual bool ListAudioDevices(std::vector<std::string>* /*inputs*/,
                                std::vector<std::string>* /*outputs*/) {
    return false;
  }
  // Indexes from the device lists; -1 is the default device.
  virtual bool SetAudioDevices(int /*input*/, int /*output*/) { return false; }
};

}  // namespace vexalo
