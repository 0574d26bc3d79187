#include "voice/audioprocessor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <random>
#include <vector>

#include "voice/audioformat.h"

namespace vexalo {
namespace {

double Power(const std::vector<int16_t>& samples, size_t from) {
  double sum = 0;
  for (size_t i = from; i < samples.size(); ++i) sum += static_cast<double>(samples[i]) * samples[i];
  return sum / static_cast<double>(samples.size() - from);
}

// The far end's signal comes back into the microphone 40 ms later at -10 dB (a speaker beside
// the microphone); after convergence the canceller removes at least 20 dB of it.
TEST(AudioProcessor, EchoReturnLossEnhancementAfterConvergence) {
  const struct {
    const char* what;
    int noise_policy_db;
  } cases[] = {{"canceller alone", 0}, {"with noise suppression", -15}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    AudioProcessor processor;
    processor.SetGainControl(false);
    processor.SetNoiseSuppression(c.noise_policy_db);
    processor.SetEchoCancellation(true);
    std::mt19937 random(7);
    std::normal_distribution<> noise(0, 3000);
    constexpr size_t kDelay = kEngineRate * 40 / 1000;
    std::deque<int16_t> path(kDelay, 0);
    std::vector<int16_t> echo, cleaned;
    const int frames = 8 * 100;  // 8 s
    for (int f = 0; f < frames; ++f) {
      int16_t played[kFrameSamples], captured[kFrameSamples];
      for (size_t i = 0; i < kFrameSamples; ++i) {
        played[i] = static_cast<int16_t>(std::clamp(noise(random), -32768.0, 32767.0));
        path.push_back(played[i]);
        captured[i] = static_cast<int16_t>(path.front() * 0.316);
        path.pop_front();
      }
      echo.insert(echo.end(), captured, captured + kFrameSamples);
      processor.Process(captured, played);
      cleaned.insert(cleaned.end(), captured, captured + kFrameSamples);
    }
    const size_t last_two_seconds = echo.size() - 2 * kEngineRate;
    const double erle_db = 10 * std::log10(Power(echo, last_two_seconds) /
                                           std::max(Power(cleaned, last_two_seconds), 1e-9));
    RecordProperty("erle_db", static_cast<int>(erle_db));
    std::printf("ERLE %s: %.1f dB\n", c.what, erle_db);
    EXPECT_GE(erle_db, 20.0);
  }
}

// With the canceller off, nothing is taken out of the capture.
TEST(AudioProcessor, PassesCaptureThroughWhenEverythingIsOff) {
  AudioProcessor processor;
  processor.SetEchoCancellation(false);
  processor.SetGainControl(false);
  processor.SetNoiseSuppression(0);
  int16_t played[kFrameSamples] = {}, captured[kFrameSamples];
  for (size_t i = 0; i < kFrameSamples; ++i) captured[i] = static_cast<int16_t>(i * 100);
  EXPECT_TRUE(processor.Process(captured, played));
  for (size_t i = 0; i < kFrameSamples; ++i) EXPECT_EQ(captured[i], static_cast<int16_t>(i * 100));
}

}  // namespace
}  // namespace vexalo
