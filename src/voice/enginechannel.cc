#include "voice/enginechannel.h"

#include "voice/audioformat.h"
#include "voice/rtppacket.h"

namespace vexalo {

EngineChannel::EngineChannel(int id)
    : id_(id), send_([this](std::span<const uint8_t> packet) { Transmit(packet); }) {}

void EngineChannel::SetPlayout(bool on) {
  // What arrived while playout was off is stale: start again from the next packets.
  if (on && !playing_.exchange(true)) receive_.Reset();
  playing_ = on;
}

void EngineChannel::SetTransport(VoiceTransport* transport) {
  std::lock_guard lock(send_mutex_);
  transport_ = transport;
}

void EngineChannel::SetSendCodec(const CodecInfo& info) {
  std::lock_guard lock(send_mutex_);
  send_.SetCodec(info);
}

void EngineChannel::SetDtx(bool on) {
  std::lock_guard lock(send_mutex_);
  send_.SetDtx(on);
}

void EngineChannel::ReceivePacket(std::span<const uint8_t> bytes, int64_t arrival_ms) {
  auto packet = RtpPacket::Parse(bytes);
  if (!packet) {
    malformed_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  receive_.OnPacket(*packet, arrival_ms);
}

bool EngineChannel::Playout(int16_t* frame) {
  if (!playing_) {
    output_meter_.Reset();
    return false;
  }
  receive_.Pull(frame);
  output_meter_.Update(frame, kFrameSamples);
  return true;
}

void EngineChannel::Send(const int16_t* frame, bool speech) {
  std::lock_guard lock(send_mutex_);
  if (sending_) {
    send_.Process(frame, speech);
  } else {
    send_.Idle();
  }
}

void EngineChannel::Transmit(std::span<const uint8_t> packet) {
  if (transport_) transport_->SendPacket(id_, packet.data(), packet.size());
}

ChannelStats EngineChannel::stats() const {
  ChannelStats stats;
  stats.receive = receive_.stats();
  stats.malformed = malformed_.load(std::memory_order_relaxed);
  std::lock_guard lock(send_mutex_);
  stats.packets_sent = send_.packets_sent();
  stats.comfort_noise_sent = send_.comfort_noise_sent();
  return stats;
}

}  // namespace vexalo
