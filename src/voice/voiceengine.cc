#include "voice/voiceengine.h"

#include <opus.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <span>

#include "base/runtime/logging.h"
#include "voice/audioformat.h"
#include "voice/codecregistry.h"
#include "voice/comfortnoise.h"
#include "voice/nullaudiodevice.h"
#include "voice/pulseaudioinput.h"
#include "voice/pulseaudiooutput.h"
#include "voice/pulsedevicelist.h"

namespace vexalo {
namespace {

constexpr int kVersion = 100;

void CopyText(const std::string& text, char* buffer, int size) {
  const size_t length = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

}  // namespace

VoiceEngine::VoiceEngine(Clock clock) : clock_(clock) {}

VoiceEngine::~VoiceEngine() { VE_Terminate(); }

int VoiceEngine::VE_Init() {
  if (initialized_) return Fail(kVeAlreadyInitialized);
  {
    std::lock_guard lock(devices_mutex_);
    if (!input_) input_ = std::make_unique<PulseAudioInput>("");
    if (!output_) output_ = std::make_unique<PulseAudioOutput>("");
  }
  initialized_ = true;
  if (clock_ == Clock::kRealTime) {
    running_ = true;
    audio_thread_ = std::thread([this] { AudioLoop(); });
  }
  return 0;
}

int VoiceEngine::VE_Terminate() {
  if (!initialized_) return 0;
  running_ = false;
  WakeAudioThread();
  if (audio_thread_.joinable()) audio_thread_.join();
  {
    std::lock_guard lock(channels_mutex_);
    channels_.clear();
  }
  std::lock_guard lock(devices_mutex_);
  if (devices_open_) {
    input_->Close();
    output_->Close();
    devices_open_ = false;
  }
  initialized_ = false;
  return 0;
}

int VoiceEngine::VE_GetVersion(char* buffer, int size) {
  if (!buffer || size <= 0) return Fail(kVeBadArgument);
  CopyText(std::string("Vexalo voice engine 1.0 (") + opus_get_version_string() +
               ", speexdsp, libpulse)",
           buffer, size);
  return kVersion;
}

int VoiceEngine::VE_SetECStatus(int enable) {
  std::lock_guard lock(devices_mutex_);
  processor_.SetEchoCancellation(enable != 0);
  return 0;
}

int VoiceEngine::VE_SetAGCStatus(int enable) {
  std::lock_guard lock(devices_mutex_);
  processor_.SetGainControl(enable != 0);
  return 0;
}

int VoiceEngine::VE_SetNRpolicy(int policy) {
  if (policy < -1 || policy > 1) return Fail(kVeBadArgument);
  std::lock_guard lock(devices_mutex_);
  processor_.SetNoiseSuppression(policy < 0 ? 0 : policy == 0 ? -15 : -25);
  return 0;
}

int VoiceEngine::VE_GetNofCodecs() { return static_cast<int>(CodecRegistry::All().size()); }

int VoiceEngine::VE_GetCodec(int index, CodecInfo* codec) {
  const auto all = CodecRegistry::All();
  if (!codec || index < 0 || index >= static_cast<int>(all.size())) return Fail(kVeBadArgument);
  *codec = all[static_cast<size_t>(index)];
  return 0;
}

int VoiceEngine::VE_SetSoundDevices(int input, int output) {
  PulseDeviceList list;
  if (!list.Load() && (input >= 0 || output >= 0)) return Fail(kVeNoSoundDevice);
  if (input >= static_cast<int>(list.inputs().size()) ||
      output >= static_cast<int>(list.outputs().size()) || input < -1 || output < -1) {
    return Fail(kVeNoSoundDevice);
  }
  SetAudioDevices(
      std::make_unique<PulseAudioInput>(input < 0 ? "" : list.inputs()[static_cast<size_t>(input)].name),
      std::make_unique<PulseAudioOutput>(output < 0 ? "" : list.outputs()[static_cast<size_t>(output)].name));
  return 0;
}

int VoiceEngine::VE_GetNofSoundDevices(int input) {
  PulseDeviceList list;
  if (!list.Load()) return Fail(kVeNoSoundDevice);
  return static_cast<int>(input ? list.inputs().size() : list.outputs().size());
}

int VoiceEngine::VE_GetSoundDeviceName(int input, int index, char* buffer, int size) {
  PulseDeviceList list;
  if (!buffer || size <= 0) return Fail(kVeBadArgument);
  if (!list.Load()) return Fail(kVeNoSoundDevice);
  const auto& devices = input ? list.inputs() : list.outputs();
  if (index < 0 || index >= static_cast<int>(devices.size())) return Fail(kVeBadArgument);
  CopyText(devices[static_cast<size_t>(index)].description, buffer, size);
  return 0;
}

void VoiceEngine::SetAudioDevices(std::unique_ptr<AudioInput> input,
                                  std::unique_ptr<AudioOutput> output) {
  std::lock_guard lock(devices_mutex_);
  if (devices_open_) {
    input_->Close();
    output_->Close();
    devices_open_ = false;  // the next frame opens the new ones
  }
  if (input) input_ = std::move(input);
  if (output) output_ = std::move(output);
}

int VoiceEngine::VE_GetInputLevel() { return input_meter_.level(); }

int VoiceEngine::VE_CreateChannel() {
  if (!initialized_) return Fail(kVeNotInitialized);
  std::lock_guard lock(channels_mutex_);
  const int id = next_channel_++;
  channels_.emplace(id, std::make_shared<EngineChannel>(id));
  return id;
}

int VoiceEngine::VE_DeleteChannel(int channel) {
  std::lock_guard lock(channels_mutex_);
  if (channels_.erase(channel) == 0) return Fail(kVeBadChannel);
  return 0;
}

std::shared_ptr<EngineChannel> VoiceEngine::Find(int channel) {
  std::lock_guard lock(channels_mutex_);
  auto it = channels_.find(channel);
  if (it == channels_.end()) {
    last_error_ = kVeBadChannel;
    return nullptr;
  }
  return it->second;
}

int VoiceEngine::VE_SetVADStatus(int channel, int enable, int /*mode*/, int disable_dtx) {
  auto found = Find(channel);
  if (!found) return -1;
  found->SetDtx(enable && !disable_dtx);
  std::lock_guard lock(devices_mutex_);
  processor_.SetVoiceDetection(enable != 0);
  return 0;
}

int VoiceEngine::VE_SetSendTransport(int channel, VoiceTransport* transport) {
  return WithChannel(channel, [transport](EngineChannel& found) { found.SetTransport(transport); });
}

int VoiceEngine::VE_SetSendCodec(int channel, const CodecInfo& codec) {
  auto found = Find(channel);
  if (!found) return -1;
  const CodecInfo* known = CodecRegistry::FindByName(codec.name);
  // CN describes silence; it cannot carry a call on its own.
  if (!known || known->payload_type != codec.payload_type ||
      known->payload_type == ComfortNoise::kPayloadType) {
    return Fail(kVeBadCodec);
  }
  found->SetSendCodec(*known);
  return 0;
}

int VoiceEngine::VE_ReceivedRTPPacket(int channel, const void* data, int size) {
  auto found = Find(channel);
  if (!found) return -1;
  if (!data || size < 0) return Fail(kVeBadArgument);
  found->ReceivePacket(std::span(static_cast<const uint8_t*>(data), static_cast<size_t>(size)),
                       NowMs());
  return 0;
}

int VoiceEngine::VE_StartPlayout(int channel) {
  const int result = WithChannel(channel, [](EngineChannel& found) { found.SetPlayout(true); });
  WakeAudioThread();
  return result;
}

int VoiceEngine::VE_StopPlayout(int channel) {
  return WithChannel(channel, [](EngineChannel& found) { found.SetPlayout(false); });
}

int VoiceEngine::VE_StartSend(int channel) {
  const int result = WithChannel(channel, [](EngineChannel& found) { found.SetSending(true); });
  WakeAudioThread();
  return result;
}

int VoiceEngine::VE_StopSend(int channel) {
  return WithChannel(channel, [](EngineChannel& found) { found.SetSending(false); });
}

int VoiceEngine::VE_GetOutputLevel(int channel) {
  auto found = Find(channel);
  if (!found) return -1;
  return found->output_level();
}

int VoiceEngine::VE_GetChannelStats(int channel, ChannelStats* stats) {
  auto found = Find(channel);
  if (!found) return -1;
  if (!stats) return Fail(kVeBadArgument);
  *stats = found->stats();
  return 0;
}

int64_t VoiceEngine::NowMs() const {
  if (clock_ == Clock::kManual) return manual_ms_.load();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void VoiceEngine::RunFrames(int frames) {
  for (int i = 0; i < frames; ++i) {
    ProcessFrame();
    manual_ms_ += kFrameMs;
  }
}

bool VoiceEngine::ProcessFrame() {
  std::vector<std::shared_ptr<EngineChannel>> channels;
  {
    std::lock_guard lock(channels_mutex_);
    for (auto& [id, channel] : channels_) channels.push_back(channel);
  }
  std::lock_guard lock(devices_mutex_);
  if (!devices_open_) {
    const bool wanted = std::any_of(channels.begin(), channels.end(), [](const auto& channel) {
      return channel->playing() || channel->sending();
    });
    if (!wanted) return false;
    // Once open, devices stay open for the engine's life (or until changed): a recording of
    // a call on hold keeps its silence, and a call resumes without reopening hardware.
    if (!input_->Open()) input_ = std::make_unique<NullAudioDevice>();
    if (!output_->Open()) output_ = std::make_unique<NullAudioDevice>();
    devices_open_ = true;
  }
  int32_t mix[kFrameSamples] = {};
  int16_t frame[kFrameSamples];
  for (auto& channel : channels) {
    if (!channel->Playout(frame)) continue;
    for (size_t i = 0; i < kFrameSamples; ++i) mix[i] += frame[i];
  }
  int16_t played[kFrameSamples];
  for (size_t i = 0; i < kFrameSamples; ++i) {
    played[i] = static_cast<int16_t>(std::clamp<int32_t>(mix[i], -32768, 32767));
  }
  output_->Write(played);

  int16_t captured[kFrameSamples];
  input_->Read(captured);
  const bool speech = processor_.Process(captured, played);
  input_meter_.Update(captured, kFrameSamples);
  for (auto& channel : channels) channel->Send(captured, speech);
  return true;
}

void VoiceEngine::WakeAudioThread() {
  {
    std::lock_guard lock(wake_mutex_);
    wake_ = true;
  }
  wake_cv_.notify_one();
}

void VoiceEngine::AudioLoop() {
  // Audio must not wait behind ordinary work; without the right to do so we run as we are.
  sched_param param{};
  param.sched_priority = 1;
  pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
  auto next = std::chrono::steady_clock::now();
  while (running_) {
    if (!ProcessFrame()) {
      // Signed in without a call: no frame to run, so no wake-up every 10 ms.
      std::unique_lock lock(wake_mutex_);
      wake_cv_.wait_for(lock, std::chrono::seconds(1), [this] { return wake_ || !running_; });
      wake_ = false;
      next = std::chrono::steady_clock::now();
      continue;
    }
    bool paced = false;
    {
      std::lock_guard lock(devices_mutex_);
      paced = devices_open_ && input_->Paced();
    }
    next += std::chrono::milliseconds(kFrameMs);
    const auto now = std::chrono::steady_clock::now();
    if (paced || now - next > std::chrono::milliseconds(100)) {
      next = now;  // the device keeps time, or we fell far behind: do not try to catch up
    } else {
      std::this_thread::sleep_until(next);
    }
  }
}

}  // namespace vexalo
