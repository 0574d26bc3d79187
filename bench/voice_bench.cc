// The voice engine's cost and delay, on this machine:
// - CPU per call: one engine runs both halves of a call (its packets come back to it), with
//   echo cancellation, noise suppression and gain control on; reported as percent of one core
//   (target under 5% for Opus).
// - Mouth-to-ear latency: clicks from a file device through two engines (20 ms frames, no
//   network delay) into the other's recording, found by cross-correlation, beside the floor
//   that no engine with these frames can beat: the packet (20 ms) + the codec's look-ahead
//   + the resamplers' delay (measured). The jitter buffer's minimum is one packet, already
//   counted: without network jitter it adds nothing.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "support/voice/directtransport.h"
#include "support/voice/toneanalysis.h"
#include "voice/audioformat.h"
#include "voice/resampler.h"
#include "voice/voiceengine.h"
#include "voice/wavfileinput.h"
#include "voice/wavfileoutput.h"

namespace {

using namespace vexalo;

std::string ScratchPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("vexalo-voice-bench-" + std::to_string(getpid()) + "-" + name))
      .string();
}

void UseCodec(VoiceEngine& engine, int channel, const std::string& name) {
  for (int i = 0; i < engine.VE_GetNofCodecs(); ++i) {
    CodecInfo codec;
    engine.VE_GetCodec(i, &codec);
    if (name == codec.name) engine.VE_SetSendCodec(channel, codec);
  }
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

void BM_CallCpu(benchmark::State& state, const char* codec) {
  // A voice-like input: a gliding tone over background noise, so every stage has work.
  std::vector<int16_t> input(kEngineRate * 2);
  std::mt19937 random(1);
  std::normal_distribution<> noise(0, 300);
  for (size_t i = 0; i < input.size(); ++i) {
    const double t = static_cast<double>(i) / kEngineRate;
    input[i] = static_cast<int16_t>(6000 * std::sin(2 * std::numbers::pi * (200 + 100 * t) * t) *
                                        (std::fmod(t, 0.5) < 0.3) +
                                    noise(random));
  }
  const std::string path = ScratchPath(std::string("cpu-") + codec + ".wav");
  testing::WriteWav(path, input, kEngineRate);
  VoiceEngine engine(VoiceEngine::Clock::kManual);
  engine.SetAudioDevices(std::make_unique<WavFileInput>(path, true),
                         std::make_unique<WavFileOutput>(ScratchPath("cpu-out.wav")));
  engine.VE_Init();
  engine.VE_SetECStatus(1);
  engine.VE_SetAGCStatus(1);
  engine.VE_SetNRpolicy(0);
  const int channel = engine.VE_CreateChannel();
  engine.VE_SetVADStatus(channel, 1, 0, 0);
  testing::DirectTransport loopback(&engine, channel);
  engine.VE_SetSendTransport(channel, &loopback);
  UseCodec(engine, channel, codec);
  engine.VE_StartPlayout(channel);
  engine.VE_StartSend(channel);
  double cpu = 0;
  int64_t audio_seconds = 0;
  for (auto _ : state) {
    const double start = ThreadCpuSeconds();
    engine.RunFrames(100);  // one second of call
    cpu += ThreadCpuSeconds() - start;
    ++audio_seconds;
  }
  state.counters["core_percent"] = 100.0 * cpu / static_cast<double>(audio_seconds);
  engine.VE_Terminate();
  std::filesystem::remove(path);
}
BENCHMARK_CAPTURE(BM_CallCpu, opus, "opus")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CallCpu, pcmu, "PCMU")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CallCpu, speex, "speex")->Unit(benchmark::kMillisecond);

// The delay a resampler pair (engine rate to codec rate and back) adds, measured with a click.
double ResamplingDelayMs(int codec_rate) {
  if (codec_rate == kEngineRate) return 0;
  Resampler down(kEngineRate, codec_rate), up(codec_rate, kEngineRate);
  std::vector<int16_t> click(kEngineRate / 10, 0), middle, out;
  click[0] = 20000;
  down.Process(click.data(), click.size(), middle);
  up.Process(middle.data(), middle.size(), out);
  size_t peak = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (std::abs(out[i]) > std::abs(out[peak])) peak = i;
  }
  return 1000.0 * static_cast<double>(peak) / kEngineRate;
}

void BM_MouthToEar(benchmark::State& state, const char* codec, int codec_rate,
                   double lookahead_ms) {
  constexpr int kClicks = 10;
  constexpr size_t kSpacing = kEngineRate / 2;  // a click every 500 ms, from 250 ms on
  std::vector<int16_t> clicks(kSpacing * (kClicks + 1), 0);
  std::vector<int16_t> shape(32);
  for (size_t i = 0; i < shape.size(); ++i) {
    shape[i] = static_cast<int16_t>(12000 * std::sin(2 * std::numbers::pi * 1000.0 * i / kEngineRate));
  }
  for (int c = 0; c < kClicks; ++c) {
    std::copy(shape.begin(), shape.end(), clicks.begin() + static_cast<std::ptrdiff_t>(kSpacing / 2 + c * kSpacing));
  }
  const std::string in = ScratchPath("clicks.wav"), out = ScratchPath("heard.wav");
  testing::WriteWav(in, clicks, kEngineRate);
  double mean_ms = 0;
  for (auto _ : state) {
    VoiceEngine a(VoiceEngine::Clock::kManual), b(VoiceEngine::Clock::kManual);
    a.SetAudioDevices(std::make_unique<WavFileInput>(in), std::make_unique<WavFileOutput>(ScratchPath("a-out.wav")));
    b.SetAudioDevices(std::make_unique<WavFileInput>(in), std::make_unique<WavFileOutput>(out));
    for (VoiceEngine* engine : {&a, &b}) {
      engine->VE_Init();
      engine->VE_SetECStatus(0);
      engine->VE_SetAGCStatus(0);
      engine->VE_SetNRpolicy(-1);
    }
    const int a_channel = a.VE_CreateChannel(), b_channel = b.VE_CreateChannel();
    testing::DirectTransport a_to_b(&b, b_channel);
    a.VE_SetSendTransport(a_channel, &a_to_b);
    UseCodec(a, a_channel, codec);
    a.VE_StartSend(a_channel);
    b.VE_StartPlayout(b_channel);
    for (size_t frame = 0; frame < clicks.size() / kFrameSamples; ++frame) {
      a.RunFrames(1);
      b.RunFrames(1);
    }
    b.VE_Terminate();
    auto heard = testing::ReadWav(out);
    double total = 0;
    for (int c = 0; c < kClicks; ++c) {
      const size_t sent = kSpacing / 2 + c * kSpacing;
      double best = -1;
      size_t best_at = sent;
      for (size_t at = sent; at + shape.size() < heard.size() && at < sent + kSpacing; ++at) {
        double correlation = 0;
        for (size_t i = 0; i < shape.size(); ++i) correlation += static_cast<double>(shape[i]) * heard[at + i];
        if (correlation > best) {
          best = correlation;
          best_at = at;
        }
      }
      total += 1000.0 * static_cast<double>(best_at - sent) / kEngineRate;
    }
    mean_ms = total / kClicks;
  }
  state.counters["latency_ms"] = mean_ms;
  state.counters["floor_ms"] = 20 + lookahead_ms + ResamplingDelayMs(codec_rate);
  std::filesystem::remove(in);
  std::filesystem::remove(out);
}
BENCHMARK_CAPTURE(BM_MouthToEar, opus, "opus", 48000, 6.5)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MouthToEar, pcmu, "PCMU", 8000, 0.0)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
