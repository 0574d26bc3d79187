#pragma once

#include <cstddef>

namespace vexalo {

// Inside the engine, audio is mono 16-bit at 16 kHz in 10 ms frames: wide enough for speech,
// and the frame the echo canceller and preprocessor work on.
inline constexpr int kEngineRate = 16000;
inline constexpr int kFrameMs = 10;
inline constexpr size_t kFrameSamples = kEngineRate * kFrameMs / 1000;

}  // namespace vexalo
