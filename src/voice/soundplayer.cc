#include "voice/soundplayer.h"

#include <chrono>
#include <vector>

#include "base/runtime/logging.h"
#include "voice/audioformat.h"

namespace vexalo {

SoundPlayer::SoundPlayer(OutputFactory open_output)
    : open_output_(std::move(open_output)), thread_([this] { Run(); }) {}

SoundPlayer::~SoundPlayer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void SoundPlayer::Play(int sound) {
  {
    std::lock_guard lock(mutex_);
    loop_.Request(sound);
  }
  wake_.notify_all();
}

int SoundPlayer::playing() const {
  std::lock_guard lock(mutex_);
  return loop_.playing();
}

void SoundPlayer::Run() {
  std::vector<int16_t> frame(kFrameSamples);
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait(lock, [this] { return stopping_ || loop_.playing() != kSoundNone; });
    if (stopping_) break;
    lock.unlock();
    std::unique_ptr<AudioOutput> output = open_output_ ? open_output_() : nullptr;
    if (output != nullptr && !output->Open()) {
      LOG(kWarning) << "SoundPlayer: cannot open the sound device";
      output.reset();
    }
    lock.lock();
    // Frames are paced by the clock, so a device that does not block keeps the timing too.
    auto due = std::chrono::steady_clock::now();
    while (!stopping_ && loop_.playing() != kSoundNone) {
      loop_.Fill(frame.data());
      lock.unlock();
      if (output != nullptr) output->Write(frame.data());
      due += std::chrono::milliseconds(kFrameMs);
      std::this_thread::sleep_until(due);
      lock.lock();
    }
    lock.unlock();
    if (output != nullptr) output->Close();
    output.reset();
    lock.lock();
  }
}

}  // namespace vexalo
