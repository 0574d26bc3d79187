#include "voice/soundplayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "voice/audioformat.h"

namespace vexalo {
namespace {

// Records what is played, and on which thread.
struct Recording {
  std::mutex mutex;
  std::vector<int16_t> samples;
  std::vector<std::thread::id> threads;
  int opened = 0;
  int closed = 0;
};

class RecordingOutput : public AudioOutput {
 public:
  explicit RecordingOutput(Recording* r) : r_(r) {}
  bool Open() override {
    std::lock_guard lock(r_->mutex);
    ++r_->opened;
    return true;
  }
  void Close() override {
    std::lock_guard lock(r_->mutex);
    ++r_->closed;
  }
  void Write(const int16_t* frame) override {
    std::lock_guard lock(r_->mutex);
    r_->samples.insert(r_->samples.end(), frame, frame + kFrameSamples);
    r_->threads.push_back(std::this_thread::get_id());
  }

 private:
  Recording* r_;
};

template <typename Condition>
bool WaitUntil(Recording& r, Condition condition) {
  for (int i = 0; i < 300; ++i) {
    {
      std::lock_guard lock(r.mutex);
      if (condition()) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The ring-back reaches the device from the player's own thread, at the clip's start; stopping
// closes the device; the chat sound plays once and closes it by itself.
TEST(SoundPlayerTest, PlaysOnItsOwnThreadAndClosesTheDeviceWhenDone) {
  Recording r;
  SoundPlayer player([&r] { return std::make_unique<RecordingOutput>(&r); });
  player.Play(kSoundRingBack);
  ASSERT_TRUE(WaitUntil(r, [&] { return r.samples.size() >= 10 * kFrameSamples; }));
  player.Play(kSoundNone);
  ASSERT_TRUE(WaitUntil(r, [&] { return r.closed == 1; }));
  {
    std::lock_guard lock(r.mutex);
    const SoundClip clip = SoundClip::For(kSoundRingBack);
    EXPECT_TRUE(std::equal(r.samples.begin(), r.samples.begin() + 10 * kFrameSamples,
                           clip.samples.begin()));
    for (std::thread::id id : r.threads) EXPECT_NE(id, std::this_thread::get_id());
    r.samples.clear();
  }
  player.Play(kSoundChatMessage);
  ASSERT_TRUE(WaitUntil(r, [&] { return r.closed == 2; }));
  EXPECT_EQ(player.playing(), kSoundNone);
  std::lock_guard lock(r.mutex);
  EXPECT_EQ(r.opened, 2);
  // Whole frames: the clip, then silence to the end of its last frame.
  const std::vector<int16_t> chat = SoundClip::For(kSoundChatMessage).samples;
  ASSERT_EQ(r.samples.size(), (chat.size() + kFrameSamples - 1) / kFrameSamples * kFrameSamples);
  EXPECT_TRUE(std::equal(chat.begin(), chat.end(), r.samples.begin()));
}

}  // namespace
}  // namespace vexalo
