#include "session/phone/voicemediachannel.h"

#include "base/runtime/logging.h"

namespace vexalo {

VoiceMediaChannel::VoiceMediaChannel(VoiceEngine* engine, int channel)
    : engine_(engine), channel_(channel) {}

VoiceMediaChannel::~VoiceMediaChannel() {
  // Taking the transport away waits for a send in progress on the audio thread.
  engine_->VE_SetSendTransport(channel_, nullptr);
  engine_->VE_DeleteChannel(channel_);
}

bool VoiceMediaChannel::Attach() {
  if (engine_->VE_SetVADStatus(channel_, 1, 0, 0) == -1) return false;
  return engine_->VE_SetSendTransport(channel_, this) != -1;
}

void VoiceMediaChannel::SetCodec(const std::string& name) {
  LOG(kInfo) << "Using " << name;
  int count = engine_->VE_GetNofCodecs();
  for (int i = 0; i < count; ++i) {
    CodecInfo codec;
    if (engine_->VE_GetCodec(i, &codec) < 0) continue;
    if (name == codec.name) {
      engine_->VE_SetSendCodec(channel_, codec);
      return;
    }
  }
}

void VoiceMediaChannel::OnPacketReceived(const char* data, size_t size) {
  engine_->VE_ReceivedRTPPacket(channel_, data, static_cast<int>(size));
}

void VoiceMediaChannel::SetPlayout(bool playout) {
  if (playout) {
    engine_->VE_StartPlayout(channel_);
  } else {
    engine_->VE_StopPlayout(channel_);
  }
}

void VoiceMediaChannel::SetSend(bool send) {
  if (send) {
    engine_->VE_StartSend(channel_);
  } else {
    engine_->VE_StopSend(channel_);
  }
}

int VoiceMediaChannel::GetOutputLevel() { return engine_->VE_GetOutputLevel(channel_); }

int VoiceMediaChannel::SendPacket(int, const void* data, size_t size) {
  VoicePacketSender* sender = sender_;
  if (sender != nullptr) sender->SendPacket(static_cast<const char*>(data), size);
  return static_cast<int>(size);
}

}  // namespace vexalo
