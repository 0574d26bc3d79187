#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "voice/audiodevice.h"
#include "voice/soundloop.h"

namespace vexalo {

// Plays the call sounds on a thread of its own, so the UI thread never waits on a device.
// The device is opened when a sound starts and closed when it ends or is stopped.
class SoundPlayer {
 public:
  using OutputFactory = std::function<std::unique_ptr<AudioOutput>()>;
  explicit SoundPlayer(OutputFactory open_output);
  ~SoundPlayer();
  SoundPlayer(const SoundPlayer&) = delete;
  SoundPlayer& operator=(const SoundPlayer&) = delete;

  // Any thread: see SoundLoop::Request.
  void Play(int sound);
  int playing() const;

 private:
  void Run();

  OutputFactory open_output_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  SoundLoop loop_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vexalo
