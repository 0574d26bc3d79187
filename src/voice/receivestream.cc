#include "voice/receivestream.h"

#include <algorithm>
#include <vector>

#include "voice/audioformat.h"
#include "voice/codecregistry.h"

namespace vexalo {
namespace {

// Two seconds beyond the play position is no jitter: the sender restarted its clock.
constexpr int kResyncMs = 2000;
// Buffered audio this far above the target is played faster by dropping frames.
constexpr int kExcessMs = 40;
constexpr int kMaxLateRun = 10;

}  // namespace

ReceiveStream::ReceiveStream() = default;
ReceiveStream::~ReceiveStream() = default;

ReceiveStream::Decoder* ReceiveStream::DecoderFor(uint8_t payload_type) {
  auto it = decoders_.find(payload_type);
  if (it != decoders_.end()) return &it->second;
  const CodecInfo* info = CodecRegistry::FindByPayloadType(payload_type);
  if (!info) return nullptr;
  Decoder decoder;
  decoder.codec = CodecRegistry::Create(*info);
  if (decoder.codec) {
    decoder.resampler = std::make_unique<Resampler>(decoder.codec->sample_rate(), kEngineRate);
  }
  return &decoders_.emplace(payload_type, std::move(decoder)).first->second;
}

void ReceiveStream::Restart(int clock_rate) {
  buffer_ = std::make_unique<JitterBuffer>(clock_rate);
  playing_ = false;
  frame_ticks_ = buffer_->MsToTicks(20);
  conceal_run_ms_ = 0;
  comfort_level_.reset();
}

void ReceiveStream::OnPacket(const RtpPacket& packet, int64_t arrival_ms) {
  std::lock_guard lock(mutex_);
  const CodecInfo* info = CodecRegistry::FindByPayloadType(packet.payload_type);
  if (!info || packet.payload.empty()) {
    ++stats_.unknown_payload;
    return;
  }
  ++stats_.packets;
  if (!buffer_ || ssrc_ != packet.ssrc || buffer_->clock_rate() != info->clock_rate) {
    ssrc_ = packet.ssrc;
    Restart(info->clock_rate);
  }
  auto result = buffer_->Insert(packet.timestamp, packet.payload_type, packet.payload,
                                arrival_ms, playing_ ? std::optional(play_position_) : std::nullopt);
  // A run of late packets means the sender's clock went back (a restart without a new SSRC).
  late_run_ = result == JitterBuffer::InsertResult::kLate ? late_run_ + 1 : 0;
  if (late_run_ > kMaxLateRun) {
    Restart(info->clock_rate);
    late_run_ = 0;
    buffer_->Insert(packet.timestamp, packet.payload_type, packet.payload, arrival_ms, std::nullopt);
  }
  // Far ahead: the sender jumped (or a stranger's packet got in). Keep only the last second
  // before the newest packet and play from there, so the delay never spans the jump.
  const int64_t newest = buffer_->Newest().value_or(0);
  if (!buffer_->empty() && newest - *buffer_->Oldest() > buffer_->MsToTicks(kResyncMs)) {
    buffer_->DropBefore(newest - buffer_->MsToTicks(1000));
  }
  if (playing_ && newest - play_position_ > buffer_->MsToTicks(kResyncMs)) playing_ = false;
  switch (result) {
    case JitterBuffer::InsertResult::kLate: ++stats_.late; break;
    case JitterBuffer::InsertResult::kDuplicate: ++stats_.duplicates; break;
    case JitterBuffer::InsertResult::kOverflow: ++stats_.overflow; break;
    case JitterBuffer::InsertResult::kAccepted: break;
  }
}

int ReceiveStream::BufferedMs() const {
  if (!buffer_ || buffer_->empty()) return 0;
  const int64_t start = playing_ ? play_position_ : *buffer_->Oldest();
  return static_cast<int>(buffer_->TicksToMs(*buffer_->Newest() + frame_ticks_ - start));
}

void ReceiveStream::Append(Decoder& decoder, const int16_t* pcm, int samples) {
  std::vector<int16_t> converted;
  decoder.resampler->Process(pcm, static_cast<size_t>(samples), converted);
  pcm_.insert(pcm_.end(), converted.begin(), converted.end());
}

void ReceiveStream::DecodeNext() {
  const int frame_ms = static_cast<int>(buffer_->TicksToMs(frame_ticks_));
  const int target = buffer_->TargetDelayMs(frame_ms);
  if (!playing_) {
    if (buffer_->empty() || BufferedMs() < target) return;
    playing_ = true;
    play_position_ = *buffer_->Oldest();
    conceal_run_ms_ = 0;
  }
  while (BufferedMs() > target + kExcessMs && buffer_->Find(play_position_)) {
    buffer_->Take(play_position_);
    play_position_ += frame_ticks_;
    ++stats_.skipped_frames;
  }
  int16_t pcm[AudioCodec::kMaxFrameSamples];
  // The jitter grew since playout started: play one concealed frame in place of time, so the
  // packets gain that much more time to arrive.
  if (BufferedMs() + frame_ms < target && buffer_->Find(play_position_) &&
      last_payload_type_ == buffer_->Find(play_position_)->payload_type) {
    if (Decoder* decoder = DecoderFor(last_payload_type_); decoder && decoder->codec) {
      const int samples = decoder->codec->Conceal(pcm, std::size(pcm));
      if (samples > 0) {
        Append(*decoder, pcm, samples);
        ++stats_.stretched_frames;
        return;
      }
    }
  }
  if (auto packet = buffer_->Take(play_position_)) {
    if (packet->payload_type == ComfortNoise::kPayloadType) {
      comfort_level_ = packet->payload[0];
    } else if (Decoder* decoder = DecoderFor(packet->payload_type); decoder && decoder->codec) {
      const int samples = decoder->codec->Decode(packet->payload, pcm, std::size(pcm));
      if (samples > 0) {
        last_payload_type_ = packet->payload_type;
        comfort_level_.reset();
        conceal_run_ms_ = 0;
        frame_ticks_ = samples * static_cast<int64_t>(buffer_->clock_rate()) /
                       decoder->codec->sample_rate();
        Append(*decoder, pcm, samples);
        play_position_ += frame_ticks_;
        return;
      }
    }
    if (comfort_level_) {
      play_position_ += frame_ticks_;
      std::vector<int16_t> noise(static_cast<size_t>(kEngineRate * frame_ms / 1000));
      comfort_noise_.Generate(*comfort_level_, noise.data(), noise.size());
      pcm_.insert(pcm_.end(), noise.begin(), noise.end());
      return;
    }
  } else if (comfort_level_) {
    std::vector<int16_t> noise(static_cast<size_t>(kEngineRate * frame_ms / 1000));
    comfort_noise_.Generate(*comfort_level_, noise.data(), noise.size());
    pcm_.insert(pcm_.end(), noise.begin(), noise.end());
    play_position_ += frame_ticks_;
    return;
  }
  // A hole longer than concealment should bridge, with packets after it: jump to them.
  if (auto oldest = buffer_->Oldest();
      oldest && *oldest - play_position_ > buffer_->MsToTicks(kMaxConcealMs)) {
    play_position_ = *oldest;
    ++stats_.skipped_frames;
    return;
  }
  // Lost (or undecodable): rebuild it from the next packet's redundancy, else conceal.
  if (buffer_->empty() && conceal_run_ms_ >= kMaxConcealMs) {
    playing_ = false;
    return;
  }
  Decoder* decoder = DecoderFor(last_payload_type_);
  if (!decoder || !decoder->codec) {
    play_position_ += frame_ticks_;
    return;
  }
  int samples = -1;
  if (const JitterBuffer::Packet* next = buffer_->Find(play_position_ + frame_ticks_);
      next && next->payload_type == last_payload_type_) {
    samples = decoder->codec->DecodeRedundant(next->payload, pcm, std::size(pcm));
    if (samples > 0) ++stats_.recovered_frames;
  }
  if (samples <= 0) {
    samples = decoder->codec->Conceal(pcm, std::size(pcm));
    ++stats_.concealed_frames;
    conceal_run_ms_ += frame_ms;
  }
  if (samples > 0) Append(*decoder, pcm, samples);
  play_position_ += frame_ticks_;
}

void ReceiveStream::Pull(int16_t* out) {
  std::lock_guard lock(mutex_);
  // Bounded: a frame that yields no samples must not stall the audio thread.
  for (int step = 0; step < 8 && buffer_ && pcm_.size() < kFrameSamples; ++step) {
    DecodeNext();
    if (!playing_) break;
  }
  const size_t have = std::min(pcm_.size(), kFrameSamples);
  std::copy_n(pcm_.begin(), have, out);
  std::fill(out + have, out + kFrameSamples, int16_t{0});
  pcm_.erase(pcm_.begin(), pcm_.begin() + static_cast<std::ptrdiff_t>(have));
}

void ReceiveStream::Reset() {
  std::lock_guard lock(mutex_);
  buffer_.reset();
  ssrc_.reset();
  pcm_.clear();
  playing_ = false;
}

ReceiveStats ReceiveStream::stats() const {
  std::lock_guard lock(mutex_);
  ReceiveStats stats = stats_;
  if (buffer_) {
    stats.delay_ms = BufferedMs() + static_cast<int>(pcm_.size() * 1000 / kEngineRate);
    stats.target_delay_ms = buffer_->TargetDelayMs(static_cast<int>(buffer_->TicksToMs(frame_ticks_)));
    stats.jitter_ms = static_cast<int>(buffer_->jitter_ms());
  }
  return stats;
}

}  // namespace vexalo
