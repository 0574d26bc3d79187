#include "app/phonecalls.h"

#include "app/callsoundchooser.h"
#include "app/chatsession.h"
#include "app/settings.h"
#include "base/runtime/logging.h"

namespace vexalo {

PhoneCalls::PhoneCalls(SessionRegistry* registry, const std::string& local_jid,
                       ChatSession* chat, const std::string& session_namespace,
                       const std::string& phone_namespace, std::unique_ptr<VoiceEngine> engine)
    : chat_(chat),
      client_(registry, session_namespace, phone_namespace, local_jid, std::move(engine)) {
  client_.CallCreated.Connect(this, &PhoneCalls::OnCallCreated);
  client_.CallDestroyed.Connect(this, &PhoneCalls::OnCallDestroyed);
  if (chat_ == nullptr) return;
  for (const auto& [bare, item] : chat_->roster()) OnRosterItem(item);
  chat_->SignalRosterItem.Connect(this, &PhoneCalls::OnRosterItem);
  chat_->SignalRosterRemoved.Connect(this, &PhoneCalls::OnRosterRemoved);
  chat_->SignalPresence.Connect(this, &PhoneCalls::OnPresence);
}

void PhoneCalls::OnRosterItem(const RosterItem& item) {
  const XmppAddress bare = item.address.WithoutResource();
  ContactRecord& contact = contacts_[bare];
  contact.address = bare;
  contact.in_roster = true;
  contact.item = item;
  OnContactChanged(bare);
}

void PhoneCalls::OnRosterRemoved(const XmppAddress& bare) {
  auto it = contacts_.find(bare);
  if (it == contacts_.end()) return;
  it->second.in_roster = false;
  OnContactChanged(bare);
}

void PhoneCalls::OnPresence(const PresenceStatus& status) {
  const XmppAddress bare = status.address.WithoutResource();
  ContactRecord& contact = contacts_[bare];
  contact.address = bare;
  contact.UpdatePresence(status);
  OnContactChanged(bare);
}

PhoneCalls::~PhoneCalls() {
  // Coordinators let go of their calls before the client ends them, unheard.
  client_.CallCreated.Disconnect(this);
  client_.CallDestroyed.Disconnect(this);
  bound_.clear();
  chat_apps_.clear();
}

const ContactRecord* PhoneCalls::FindContact(const XmppAddress& bare) {
  auto it = contacts_.find(bare.WithoutResource());
  return it == contacts_.end() ? nullptr : &it->second;
}

ChatApp* PhoneCalls::ChatAppFor(const XmppAddress& jid) {
  const XmppAddress bare = jid.WithoutResource();
  auto it = chat_apps_.find(bare);
  if (it != chat_apps_.end()) return it->second.get();
  auto app = std::make_unique<ChatApp>(this, bare);
  app->StateChanged.Connect(this, &PhoneCalls::OnChatAppState);
  app->QualityChanged.Connect(
      this, [this](ChatApp* from, uint32_t rtt, const std::string& path, int) {
        SignalCallQuality(from->contact(), rtt, path);
      });
  app->LevelsChanged.Connect(this, [this](ChatApp* from, const AudioLevels& levels) {
    if (client_.focus() != nullptr && client_.focus() == from->call()) SignalLevels(levels);
  });
  ChatApp* raw = app.get();
  chat_apps_[bare] = std::move(app);
  SignalCallState(bare, raw->state());
  return raw;
}

ChatApp* PhoneCalls::FindCall(const XmppAddress& jid) {
  if (jid.IsValid()) {
    auto it = chat_apps_.find(jid.WithoutResource());
    return it != chat_apps_.end() && it->second->call() != nullptr ? it->second.get() : nullptr;
  }
  // Without a JID: the call with the focus, else a ringing one, else any.
  ChatApp* found = nullptr;
  for (const auto& [bare, app] : chat_apps_) {
    if (app->call() == nullptr) continue;
    if (app->call() == client_.focus()) return app.get();
    if (found == nullptr || app->state() == CUS_INCOMING_RING) found = app.get();
  }
  return found;
}

void PhoneCalls::PlaceCall(const XmppAddress& target) {
  Call* call = client_.CreateCall();
  if (call->InitiateSession(target.ToString()) == nullptr) {
    LOG(kWarning) << "PhoneCalls::PlaceCall - could not start a session with "
                  << target.ToString();
    client_.DestroyCall(call);
  }
}

void PhoneCalls::OnPeerRefusedSession(const XmppAddress& peer) {
  auto it = contacts_.find(peer.WithoutResource());
  if (it == contacts_.end()) return;
  it->second.DropVoice(peer);
  OnContactChanged(it->first);
}

void PhoneCalls::OnContactChanged(const XmppAddress& bare) {
  auto it = chat_apps_.find(bare);
  if (it != chat_apps_.end()) it->second->OnContactUpdate();
}

void PhoneCalls::OnCallCreated(Call* call) {
  call->SessionState.Connect(this, &PhoneCalls::OnCallSessionState);
  // A session's first state came before we listened: an incoming initiate is already there.
  for (Session* session : call->sessions()) OnCallSessionState(call, session, session->state());
}

void PhoneCalls::OnCallDestroyed(Call* call) {
  auto it = bound_.find(call);
  if (it == bound_.end()) return;
  ChatApp* app = it->second;
  bound_.erase(it);
  app->DetachCall(call);
}

void PhoneCalls::OnCallSessionState(Call* call, Session* session, Session::State state) {
  if (state != Session::STATE_SENTINITIATE && state != Session::STATE_RECEIVEDINITIATE) return;
  // Stale: the session moved on inside an earlier handler (an automatic rejection).
  if (state != session->state() || bound_.count(call) != 0) return;
  const XmppAddress remote(session->remote_name());
  if (!remote.IsValid()) {
    call->RejectSession(session);
    return;
  }
  if (state == Session::STATE_RECEIVEDINITIATE) {
    // Only contacts whose presence we see may ring; anyone else is turned down.
    const ContactRecord* contact = FindContact(remote);
    if (contact == nullptr || !contact->Subscribed()) {
      if (refused_logged_.insert(remote.WithoutResource()).second) {
        LOG(kInfo) << "PhoneCalls - rejected a call from " << remote.WithoutResource().ToString()
                   << ", who is not a contact";
      }
      call->RejectSession(session);
      return;
    }
  }
  ChatApp* app = ChatAppFor(remote);
  if (!app->AttachCall(call, session)) {
    // The contact already has a call with us.
    call->Terminate();
    return;
  }
  bound_[call] = app;
}

void PhoneCalls::OnChatAppState(ChatApp* app, int32_t state) {
  // The call the user is talking in has the audio; a held one gives it up.
  if (state == CUS_ACTIVE_CALL && app->call() != nullptr) {
    client_.SetFocus(app->call());
  } else if (state == CUS_CALL_ON_HOLD && client_.focus() == app->call()) {
    client_.SetFocus(nullptr);
  }
  UpdateCallSound(app, state);
  SignalCallState(app->contact(), state);
}

void PhoneCalls::SetCallSounds(std::unique_ptr<SoundPlayer> player) { sounds_ = std::move(player); }

void PhoneCalls::UpdateCallSound(ChatApp* app, int32_t state) {
  if (sounds_ == nullptr) return;
  using Focus = CallSoundChooser::Focus;
  const Call* focus = client_.focus();
  const Focus holder = focus == nullptr          ? Focus::kNobody
                       : focus == app->call()    ? Focus::kThisContact
                                                 : Focus::kAnotherContact;
  const int sound = CallSoundChooser::Choose(state, holder, sound_settings_);
  // A contact coming online or going away must not silence another contact's ring.
  if (sound == kSoundNone && sounds_->playing() != kSoundNone && app->contact() != sound_owner_) {
    return;
  }
  sound_owner_ = app->contact();
  sounds_->Play(sound);
}

bool PhoneCalls::CallContact(const XmppAddress& jid) {
  ChatApp* app = ChatAppFor(jid);
  if (jid.HasResource()) app->set_remote_address(jid);
  app->RecomputeCallable();
  if (app->state() != CUS_CALLABLE) return false;
  app->OnCallCommand();
  return true;
}

std::vector<std::string> PhoneCalls::SoundDevices(bool input) {
  std::vector<std::string> names;
  VoiceEngine* engine = client_.channel_pool()->engine()->engine();
  client_.channel_pool()->RunOnWorker([&] {
    const int count = engine->VE_GetNofSoundDevices(input ? 1 : 0);
    for (int i = 0; i < count; ++i) {
      char name[256] = {};
      if (engine->VE_GetSoundDeviceName(input ? 1 : 0, i, name, sizeof(name)) < 0) continue;
      names.emplace_back(name);
    }
  });
  return names;
}

bool PhoneCalls::SetAudioOptions(bool agc, int input_device, int output_device) {
  return client_.channel_pool()->SetAudioOptions(agc, input_device, output_device);
}

bool PhoneCalls::ApplyAudioSettings(const Settings& settings) {
  auto index_of = [this](bool input, const std::string& name) {
    if (name == kDefaultAudioDevice) return -1;
    const std::vector<std::string> names = SoundDevices(input);
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) return static_cast<int>(i);
    }
    return -1;
  };
  return SetAudioOptions(settings.adjust_mic, index_of(true, settings.audio_in),
                         index_of(false, settings.audio_out));
}

}  // namespace vexalo
