#include "session/phone/call.h"

#include <algorithm>
#include <memory>

#include "session/phone/callclient.h"
#include "session/phone/voicechannel.h"

namespace vexalo {

Call::Call(CallClient* client, uint32_t id) : client_(client), id_(id) {}

Call::~Call() = default;

void Call::HandleMessage(QueuedMessage* msg) {
  // Posted, so that the call does not go inside the notification that removed its session.
  if (msg->id == kCheckEmptyMessage && sessions_.empty()) client_->DestroyCall(this);
}

Session* Call::InitiateSession(const std::string& remote_jid) {
  Session* session = client_->CreateSession();
  if (session == nullptr) return nullptr;
  client_->MapSession(session, this);
  AddSession(session);
  auto offer = std::make_shared<PhoneDescription>(client_->CreateOffer());
  if (!session->Initiate(remote_jid, offer)) return nullptr;
  return session;
}

bool Call::HasSession(const Session* session) const {
  return std::find(sessions_.begin(), sessions_.end(), session) != sessions_.end();
}

VoiceChannel* Call::ChannelOf(const Session* session) const {
  auto it = channels_.find(session->id());
  return it == channels_.end() ? nullptr : it->second;
}

void Call::AcceptSession(Session* session) {
  if (!HasSession(session)) return;
  auto answer = std::make_shared<PhoneDescription>(
      client_->CreateAnswer(CallClient::RemoteDescription(session)));
  session->Accept(answer);
}

void Call::RejectSession(Session* session) {
  if (HasSession(session)) session->Reject();
}

void Call::TerminateSession(Session* session) {
  if (HasSession(session)) session->Terminate();
}

void Call::Terminate() {
  // Terminating may remove sessions from the list as it goes.
  std::vector<Session*> sessions = sessions_;
  for (Session* session : sessions) TerminateSession(session);
}

void Call::Mute(bool mute) {
  muted_ = mute;
  for (auto& [id, channel] : channels_) {
    if (channel != nullptr) channel->PostMute(mute);
  }
}

void Call::EnableChannels(bool enable) {
  for (auto& [id, channel] : channels_) {
    if (channel != nullptr) channel->PostEnable(enable);
  }
}

void Call::OnWorker(Session* session, const std::function<void(VoiceChannel*)>& work) {
  VoiceChannel* channel = ChannelOf(session);
  if (channel == nullptr) return;
  client_->channel_pool()->RunOnWorker([&] { work(channel); });
}

void Call::StartConnectionMonitor(Session* session, int interval_ms) {
  OnWorker(session, [=](VoiceChannel* channel) { channel->StartConnectionMonitor(interval_ms); });
}

void Call::StopConnectionMonitor(Session* session) {
  OnWorker(session, [](VoiceChannel* channel) { channel->StopConnectionMonitor(); });
}

void Call::StartAudioMonitor(Session* session, int interval_ms) {
  OnWorker(session, [=](VoiceChannel* channel) { channel->StartAudioMonitor(interval_ms); });
}

void Call::StopAudioMonitor(Session* session) {
  OnWorker(session, [](VoiceChannel* channel) { channel->StopAudioMonitor(); });
}

void Call::AddSession(Session* session) {
  sessions_.push_back(session);
  session->StateChanged.Connect(
      this, [this](Session* changed, Session::State state) { SessionState(this, changed, state); });
  session->ErrorChanged.Connect(
      this, [this](Session* changed, Session::Error error) { SessionError(this, changed, error); });
  VoiceChannel* channel = client_->channel_pool()->CreateVoiceChannel(session);
  channels_[session->id()] = channel;
  if (channel != nullptr) {
    channel->ConnectionMonitorReport.Connect(
        this, [this, session](VoiceChannel*, const std::vector<ConnectionInfo>& infos) {
          ConnectionMonitor(this, session, infos);
        });
    channel->AudioMonitorReport.Connect(
        this, [this, session](VoiceChannel*, const AudioLevels& levels) {
          AudioMonitor(this, session, levels);
        });
    if (client_->focus() == this) channel->PostEnable(true);
  }
  SessionAdded(this, session);
}

void Call::RemoveSession(Session* session) {
  auto it = std::find(sessions_.begin(), sessions_.end(), session);
  if (it == sessions_.end()) return;
  sessions_.erase(it);
  session->StateChanged.Disconnect(this);
  session->ErrorChanged.Disconnect(this);
  auto channel = channels_.find(session->id());
  if (channel != channels_.end()) {
    if (channel->second != nullptr) client_->channel_pool()->DestroyVoiceChannel(channel->second);
    channels_.erase(channel);
  }
  SessionRemoved(this, session);
  if (EventQueue* queue = client_->registry()->signaling_thread()) {
    queue->Post(this, kCheckEmptyMessage);
  }
}

}  // namespace vexalo
