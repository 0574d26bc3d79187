#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/chatapp.h"
#include "app/chatapphost.h"
#include "app/contactrecord.h"
#include "app/settings.h"
#include "base/runtime/signal.h"
#include "session/phone/callclient.h"
#include "voice/soundplayer.h"
#include "voice/voiceengine.h"

namespace vexalo {

class ChatSession;
class SessionRegistry;
struct Settings;

// The calls of one signed-in connection: the phone session client, one coordinator per
// contact, the contacts' resources and what they offer, the contact policy for incoming
// calls and the audio focus. Made when the session stack starts, gone before it goes.
class PhoneCalls : public ChatAppHost, public SlotHost {
 public:
  // `chat` (may be null) feeds the contacts; the caller adds call_client() to its session
  // stack.
  PhoneCalls(SessionRegistry* registry, const std::string& local_jid, ChatSession* chat,
             const std::string& session_namespace, const std::string& phone_namespace,
             std::unique_ptr<VoiceEngine> engine);
  ~PhoneCalls() override;
  PhoneCalls(const PhoneCalls&) = delete;
  PhoneCalls& operator=(const PhoneCalls&) = delete;

  // ChatAppHost
  CallClient* call_client() override { return &client_; }
  const ContactRecord* FindContact(const XmppAddress& bare) override;
  void PlaceCall(const XmppAddress& target) override;
  void OnCallAccepted(const XmppAddress&) override {}
  void OnPeerRefusedSession(const XmppAddress& peer) override;

  // What the roster and presence say of the contacts.
  void OnRosterItem(const RosterItem& item);
  void OnRosterRemoved(const XmppAddress& bare);
  void OnPresence(const PresenceStatus& status);

  // The coordinator of a contact, made on first use.
  ChatApp* ChatAppFor(const XmppAddress& jid);
  // The coordinator whose call is ringing, active or held; with a JID, that contact's.
  ChatApp* FindCall(const XmppAddress& jid);
  const std::map<XmppAddress, std::unique_ptr<ChatApp>>& chat_apps() const { return chat_apps_; }
  // Places a call to the contact (to that resource when `jid` has one); false when it cannot be
  // called now.
  bool CallContact(const XmppAddress& jid);
  // The sound server's devices, by index.
  std::vector<std::string> SoundDevices(bool input);
  // The audio settings: gain control and device indexes (-1: default).
  bool SetAudioOptions(bool agc, int input_device, int output_device);
  // The options' devices (by name; the default-device text or an unknown name is the default
  // device) and gain control.
  bool ApplyAudioSettings(const Settings& settings);
  // The ring, ring-back and call-waiting sounds follow the call-user states on `player`; the
  // settings say whether incoming calls ring.
  void SetCallSounds(std::unique_ptr<SoundPlayer> player);
  void SetSoundSettings(const Settings& settings) { sound_settings_ = settings; }
  int call_sound() const { return sounds_ != nullptr ? sounds_->playing() : 0; }

  // A coordinator's call-user state changed (the contact's bare JID, the state).
  Signal<const XmppAddress&, int32_t> SignalCallState;
  Signal<const XmppAddress&, uint32_t, const std::string&> SignalCallQuality;
  Signal<const AudioLevels&> SignalLevels;

 private:
  void OnCallCreated(Call* call);
  void OnCallDestroyed(Call* call);
  void OnCallSessionState(Call* call, Session* session, Session::State state);
  void OnChatAppState(ChatApp* app, int32_t state);
  void OnContactChanged(const XmppAddress& bare);
  void UpdateCallSound(ChatApp* app, int32_t state);

  ChatSession* chat_;
  CallClient client_;
  std::map<XmppAddress, ContactRecord> contacts_;
  std::map<XmppAddress, std::unique_ptr<ChatApp>> chat_apps_;
  std::map<Call*, ChatApp*> bound_;
  // Strangers whose calls were turned down: logged once each.
  std::set<XmppAddress> refused_logged_;
  std::unique_ptr<SoundPlayer> sounds_;
  Settings sound_settings_;
  // The contact whose state chose the playing sound.
  XmppAddress sound_owner_;
};

}  // namespace vexalo
