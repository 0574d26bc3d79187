#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexalo::testing {

// The amplitude of one frequency in a stretch of samples (Goertzel), in sample units: a pure
// tone of amplitude A at that frequency gives about A.
double ToneAmplitude(const std::vector<int16_t>& samples, size_t begin, size_t count,
                     double frequency, int rate);
std::vector<int16_t> MakeTone(double frequency, double amplitude, double seconds, int rate);
void WriteWav(const std::string& path, const std::vector<int16_t>& samples, int rate);
std::vector<int16_t> ReadWav(const std::string& path, int* rate = nullptr);
// A fresh empty folder under the test's temporary directory.
std::string TempFolder(const std::string& name);

}  // namespace vexalo::testing
