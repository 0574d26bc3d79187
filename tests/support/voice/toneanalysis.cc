#include "support/voice/toneanalysis.h"

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <numbers>

namespace vexalo::testing {

double ToneAmplitude(const std::vector<int16_t>& samples, size_t begin, size_t count,
                     double frequency, int rate) {
  const double omega = 2.0 * std::numbers::pi * frequency / rate;
  const double coeff = 2.0 * std::cos(omega);
  double s1 = 0, s2 = 0;
  for (size_t i = begin; i < begin + count && i < samples.size(); ++i) {
    const double s0 = samples[i] + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(count);
}

std::vector<int16_t> MakeTone(double frequency, double amplitude, double seconds, int rate) {
  std::vector<int16_t> tone(static_cast<size_t>(seconds * rate));
  for (size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<int16_t>(amplitude * std::sin(2.0 * std::numbers::pi * frequency * i / rate));
  }
  return tone;
}

void WriteWav(const std::string& path, const std::vector<int16_t>& samples, int rate) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  sf_write_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(file);
}

std::vector<int16_t> ReadWav(const std::string& path, int* rate) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return {};
  std::vector<int16_t> samples(static_cast<size_t>(info.frames));
  sf_read_short(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(file);
  if (rate) *rate = info.samplerate;
  return samples;
}

std::string TempFolder(const std::string& name) {
  auto folder = std::filesystem::temp_directory_path() /
                ("vexalo-voice-" + std::to_string(getpid()) + "-" + name);
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder.string();
}

}  // namespace vexalo::testing
