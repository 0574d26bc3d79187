#include "voice/sendstream.h"

#include <algorithm>

#include "voice/audioformat.h"
#include "voice/codecregistry.h"
#include "voice/comfortnoise.h"

namespace vexalo {
namespace {

constexpr int kComfortNoiseEveryFrames = 10;  // 200 ms of 20 ms frames

}  // namespace

SendStream::SendStream(PacketSink sink) : sink_(std::move(sink)) {
  SetCodec(*CodecRegistry::FindByName("PCMU"));
}

SendStream::~SendStream() = default;

void SendStream::SetCodec(const CodecInfo& info) {
  auto codec = CodecRegistry::Create(info);
  if (!codec) return;
  info_ = info;
  codec_ = std::move(codec);
  resampler_ = std::make_unique<Resampler>(kEngineRate, codec_->sample_rate());
  pending_.clear();
  pending_speech_.clear();
  in_silence_ = false;
}

void SendStream::Process(const int16_t* frame, bool speech) {
  resampler_->Process(frame, kFrameSamples, pending_);
  pending_speech_.push_back(speech);
  const auto frame_samples = static_cast<size_t>(codec_->frame_samples());
  while (pending_.size() >= frame_samples) {
    const bool any_speech =
        std::find(pending_speech_.begin(), pending_speech_.end(), true) != pending_speech_.end();
    EncodeFrame(pending_.data(), any_speech);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(frame_samples));
    pending_speech_.clear();
  }
}

void SendStream::Idle() {
  rtp_.Skip(static_cast<uint32_t>(info_.clock_rate * kFrameMs / 1000));
  pending_.clear();
  pending_speech_.clear();
  in_silence_ = true;  // the next packet opens a talk spurt
}

void SendStream::EncodeFrame(const int16_t* pcm, bool speech) {
  const auto ticks = static_cast<uint32_t>(codec_->frame_samples() * static_cast<int64_t>(info_.clock_rate) /
                                           codec_->sample_rate());
  if (dtx_ && !speech && codec_->UsesComfortNoise()) {
    if (!in_silence_ || ++silence_frames_ >= kComfortNoiseEveryFrames) {
      const uint8_t level = ComfortNoise::LevelOf(pcm, static_cast<size_t>(codec_->frame_samples()));
      sink_(rtp_.Packetize(ComfortNoise::kPayloadType, std::span(&level, 1), ticks, false));
      ++comfort_noise_sent_;
      in_silence_ = true;
      silence_frames_ = 0;
    } else {
      rtp_.Skip(ticks);
    }
    return;
  }
  uint8_t payload[AudioCodec::kMaxPayload];
  const int bytes = codec_->Encode(pcm, payload, sizeof payload);
  if (bytes <= 0) {
    rtp_.Skip(ticks);
    return;
  }
  // The marker opens each talk spurt (RFC 3551 section 4.1).
  const bool marker = packets_sent_ == 0 || in_silence_;
  in_silence_ = false;
  sink_(rtp_.Packetize(static_cast<uint8_t>(info_.payload_type),
                       std::span(payload, static_cast<size_t>(bytes)), ticks, marker));
  ++packets_sent_;
}

}  // namespace vexalo
