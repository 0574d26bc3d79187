#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "voice/audiodevice.h"
#include "voice/audioprocessor.h"
#include "voice/codecinfo.h"
#include "voice/enginechannel.h"
#include "voice/levelmeter.h"
#include "voice/voicetransport.h"

namespace vexalo {

// Error numbers of VE_GetLastError.
enum VoiceEngineError {
  kVeNoError = 0,
  kVeNotInitialized = 8001,
  kVeBadChannel = 8002,
  kVeBadArgument = 8003,
  kVeBadCodec = 8004,
  kVeNoSoundDevice = 8005,
  kVeAlreadyInitialized = 8006,
};

// The voice engine: channels that send and receive RTP through a transport their owner gives,
// sound devices, echo control, gain control, noise suppression, and the codecs. Operations
// return 0 (or a count, number or level) on success and -1 on failure, with the reason in
// VE_GetLastError. They may be called from any one thread; frames move on the engine's own
// audio thread (or, with a manual clock, on the thread calling RunFrames).
class VoiceEngine {
 public:
  enum class Clock { kRealTime, kManual };

  explicit VoiceEngine(Clock clock = Clock::kRealTime);
  ~VoiceEngine();
  VoiceEngine(const VoiceEngine&) = delete;
  VoiceEngine& operator=(const VoiceEngine&) = delete;

  int VE_Init();
  int VE_Terminate();
  int VE_GetVersion(char* buffer, int size);
  int VE_GetLastError() const { return last_error_; }

  int VE_SetECStatus(int enable);
  int VE_SetAGCStatus(int enable);
  // 0 moderate (-15 dB), 1 strong (-25 dB); -1 switches noise suppression off.
  int VE_SetNRpolicy(int policy);

  int VE_GetNofCodecs();
  int VE_GetCodec(int index, CodecInfo* codec);

  // Indexes into the server's source and sink lists; -1 is the server's default device.
  int VE_SetSoundDevices(int input, int output);
  int VE_GetNofSoundDevices(int input);
  int VE_GetSoundDeviceName(int input, int index, char* buffer, int size);
  int VE_GetInputLevel();

  int VE_CreateChannel();
  int VE_DeleteChannel(int channel);
  // mode is accepted for compatibility (the detector has one mode); DTX follows the detector
  // unless disable_dtx is set.
  int VE_SetVADStatus(int channel, int enable, int mode, int disable_dtx);
  int VE_SetSendTransport(int channel, VoiceTransport* transport);
  int VE_SetSendCodec(int channel, const CodecInfo& codec);
  int VE_ReceivedRTPPacket(int channel, const void* data, int size);
  int VE_StartPlayout(int channel);
  int VE_StopPlayout(int channel);
  int VE_StartSend(int channel);
  int VE_StopSend(int channel);
  int VE_GetOutputLevel(int channel);
  int VE_GetChannelStats(int channel, ChannelStats* stats);

  // Devices other than the server's: sound files, the null device. Either may be null (kept).
  void SetAudioDevices(std::unique_ptr<AudioInput> input, std::unique_ptr<AudioOutput> output);

  // Manual clock only: runs `frames` 10 ms frames now, advancing the engine's time.
  void RunFrames(int frames);
  int64_t NowMs() const;

 private:
  std::shared_ptr<EngineChannel> Find(int channel);
  // Runs `action` on the channel; -1 (kVeBadChannel) when there is none.
  template <typename Action>
  int WithChannel(int channel, Action action) {
    auto found = Find(channel);
    if (!found) return -1;
    action(*found);
    return 0;
  }
  int Fail(int error) {
    last_error_ = error;
    return -1;
  }
  // False when idle: no device open and no channel playing or sending.
  bool ProcessFrame();
  void AudioLoop();
  // Ends an idle audio thread's wait: a channel starts, or the engine ends.
  void WakeAudioThread();

  const Clock clock_;
  std::atomic<int> last_error_{kVeNoError};
  bool initialized_ = false;

  std::mutex channels_mutex_;
  std::map<int, std::shared_ptr<EngineChannel>> channels_;
  int next_channel_ = 0;

  std::mutex devices_mutex_;  // held by the audio thread for a whole frame
  std::unique_ptr<AudioInput> input_;
  std::unique_ptr<AudioOutput> output_;
  bool devices_open_ = false;
  AudioProcessor processor_;
  LevelMeter input_meter_;

  std::atomic<int64_t> manual_ms_{0};
  std::atomic<bool> running_{false};
  std::thread audio_thread_;
  // An idle engine's thread sleeps here instead of ticking every frame.
  std::mutex wake_mutex_;
  std::condition_variable wake_cv_;
  bool wake_ = false;
};

}  // namespace vexalo
