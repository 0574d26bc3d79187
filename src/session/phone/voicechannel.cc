#include "session/phone/voicechannel.h"

#include "base/runtime/logging.h"
#include "session/phone/phonedescription.h"
#include "session/phone/voicechannelpool.h"

namespace vexalo {

VoiceChannel::VoiceChannel(VoiceChannelPool* pool, Session* session,
                           std::unique_ptr<VoiceMediaChannel> media_channel)
    : pool_(pool),
      session_(session),
      media_(std::move(media_channel)),
      worker_(pool->thread()),
      signaling_(pool->signaling_thread()) {
  socket_ = session_->CreateP2PSocket("rtp");
  if (socket_ != nullptr) {
    socket_->StateChanged.Connect(this, [this](P2PSocket*, P2PSocket::State state) {
      SetWritable(state == P2PSocket::STATE_WRITABLE);
    });
    socket_->ConnectionPacketReceived.Connect(this, &VoiceChannel::OnSocketPacket);
  }
  media_->SetPacketSender(this);
  LOG(kInfo) << "Created voice channel";
  session_->StateChanged.Connect(this, &VoiceChannel::OnSessionState);
  OnSessionState(session_, session_->state());
}

VoiceChannel::~VoiceChannel() {
  connection_monitor_.reset();
  audio_monitor_.reset();
  enabled_ = false;
  ApplyEngineRule();
  // Deleting the engine channel waits for a send in progress, so no packet from the audio
  // thread is posted to this channel after its queued ones are cleared.
  media_.reset();
  worker_->Clear(this);
  if (socket_ != nullptr) session_->DestroyP2PSocket(socket_);
  LOG(kInfo) << "Destroyed voice channel";
}

void VoiceChannel::HandleMessage(QueuedMessage* msg) {
  switch (msg->id) {
    case kEnableMessage: Enable(); break;
    case kDisableMessage: Disable(); break;
    case kMuteMessage: Mute(); break;
    case kUnmuteMessage: Unmute(); break;
    case kCodecMessage: {
      auto name = msg->TakePayload<MessageData<std::string>>();
      media_->SetCodec(name->value());
      break;
    }
    case kPacketMessage: {
      auto packet = msg->TakePayload<MessageData<std::string>>();
      if (socket_ != nullptr) socket_->Send(packet->value().data(), packet->value().size());
      break;
    }
    default: break;
  }
}

void VoiceChannel::PostEnable(bool enable) {
  worker_->Post(this, enable ? kEnableMessage : kDisableMessage);
}

void VoiceChannel::PostMute(bool mute) { worker_->Post(this, mute ? kMuteMessage : kUnmuteMessage); }

bool VoiceChannel::ChangeFlag(bool* flag, bool value, const char* log_text) {
  if (*flag == value) return false;
  *flag = value;
  LOG(kInfo) << log_text;
  ApplyEngineRule();
  return true;
}

void VoiceChannel::Enable() {
  if (!enabled_) enabled_at_ = worker_->Now();
  ChangeFlag(&enabled_, true, "Voice channel enabled");
}

void VoiceChannel::Disable() { ChangeFlag(&enabled_, false, "Voice channel disabled"); }

void VoiceChannel::Mute() { ChangeFlag(&muted_, true, "Voice channel muted"); }

void VoiceChannel::Unmute() { ChangeFlag(&muted_, false, "Voice channel unmuted"); }

void VoiceChannel::Pause() {
  paused_ = true;
  LOG(kInfo) << "Voice channel paused";
  ApplyEngineRule();
}

void VoiceChannel::Unpause() {
  paused_ = false;
  LOG(kInfo) << "Voice channel unpaused";
  ApplyEngineRule();
}

void VoiceChannel::SetWritable(bool writable) {
  ChangeFlag(&writable_, writable,
             writable ? "Voice channel socket writable" : "Voice channel socket not writable");
}

void VoiceChannel::ApplyEngineRule() {
  if (!paused_ && enabled_ && writable_) {
    media_->SetSend(!muted_);
    media_->SetPlayout(true);
  } else {
    media_->SetPlayout(false);
    media_->SetSend(false);
  }
}

void VoiceChannel::StartConnectionMonitor(int interval_ms) {
  if (socket_ == nullptr) return;
  connection_monitor_ = std::make_unique<ConnectionMonitor>(
      socket_, worker_, signaling_, interval_ms,
      [this](const std::vector<ConnectionInfo>& infos) { ConnectionMonitorReport(this, infos); });
  connection_monitor_->Start();
}

void VoiceChannel::StopConnectionMonitor() { connection_monitor_.reset(); }

void VoiceChannel::StartAudioMonitor(int interval_ms) {
  audio_monitor_ = std::make_unique<AudioMonitor>(
      pool_->engine(), media_.get(), worker_, signaling_, interval_ms,
      [this](const AudioLevels& levels) { AudioMonitorReport(this, levels); });
  audio_monitor_->Start();
}

void VoiceChannel::StopAudioMonitor() { audio_monitor_.reset(); }

void VoiceChannel::SendPacket(const char* data, size_t size) {
  // The engine sends from its audio thread; the socket belongs to the worker.
  worker_->Post(this, kPacketMessage, new MessageData<std::string>(std::string(data, size)));
}

void VoiceChannel::OnSocketPacket(P2PSocket*, Connection* connection, const char* data,
                                  size_t size) {
  // Only the connection the checks chose is the peer's; anything else could be anyone's.
  if (connection == nullptr || connection != socket_->best_connection()) {
    ++foreign_packets_;
    return;
  }
  media_->OnPacketReceived(data, size);
}

void VoiceChannel::OnSessionState(Session* session, Session::State state) {
  if (state != Session::STATE_RECEIVEDINITIATE && state != Session::STATE_RECEIVEDACCEPT) return;
  const auto* remote = dynamic_cast<const PhoneDescription*>(session->remote_description().get());
  std::string name = pool_->negotiator().ChooseSendCodec(
      remote != nullptr ? remote->codecs() : std::vector<Codec>());
  worker_->Post(this, kCodecMessage, new MessageData<std::string>(std::move(name)));
}

}  // namespace vexalo
