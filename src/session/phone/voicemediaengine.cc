#include "session/phone/voicemediaengine.h"

#include "base/runtime/logging.h"
#include "session/phone/codecpreference.h"

namespace vexalo {

VoiceMediaEngine::VoiceMediaEngine(std::unique_ptr<VoiceEngine> engine)
    : engine_(std::move(engine)) {}

VoiceMediaEngine::~VoiceMediaEngine() { Terminate(); }

bool VoiceMediaEngine::Init() {
  if (engine_->VE_Init() == -1) return false;
  char version[1024] = {};
  int number = engine_->VE_GetVersion(version, sizeof(version));
  LOG(kInfo) << "Voice engine version: " << number << ": " << version;
  if (engine_->VE_SetECStatus(1) == -1 || engine_->VE_SetAGCStatus(1) == -1 ||
      engine_->VE_SetNRpolicy(0) == -1) {
    engine_->VE_Terminate();
    return false;
  }
  codecs_.clear();
  int count = engine_->VE_GetNofCodecs();
  for (int i = 0; i < count; ++i) {
    CodecInfo record;
    if (engine_->VE_GetCodec(i, &record) < 0) continue;
    LOG(kInfo) << record.name << " " << record.payload_type;
    codecs_.push_back(Codec{record.payload_type, record.name, CodecPreference(record.name)});
  }
  initialized_ = true;
  return true;
}

void VoiceMediaEngine::Terminate() {
  if (!initialized_) return;
  initialized_ = false;
  engine_->VE_Terminate();
}

std::unique_ptr<VoiceMediaChannel> VoiceMediaEngine::CreateChannel() {
  int channel = engine_->VE_CreateChannel();
  if (channel == -1) return nullptr;
  auto media = std::make_unique<VoiceMediaChannel>(engine_.get(), channel);
  if (!media->Attach()) return nullptr;
  return media;
}

bool VoiceMediaEngine::SetOptions(int flags) {
  return engine_->VE_SetAGCStatus((flags >> 1) & 1) != -1;
}

int VoiceMediaEngine::SetDevices(int input_device, int output_device) {
  if (engine_->VE_SetSoundDevices(input_device, output_device) == -1) {
    return engine_->VE_GetLastError();
  }
  return 0;
}

int VoiceMediaEngine::GetInputLevel() { return engine_->VE_GetInputLevel(); }

}  // namespace vexalo
