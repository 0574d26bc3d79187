#include "p2p/base/pseudotcp.h"

#include <algorithm>
#include <cstdlib>

#include "base/net/socketerrors.h"
#include "base/runtime/logging.h"

namespace vexalo {
namespace {

// The path-MTU plateaus of RFC 1191, ending with 0.
constexpr uint32_t kMtuPlateaus[] = {65535, 32000, 17914, 8166, 4352, 2002, 1492, 1006, 508, 296, 68, 0};
constexpr size_t kLastMtuLevel = std::size(kMtuPlateaus) - 2;

// Sequence numbers and timestamps wrap: compare them by their signed distance.
int32_t SeqDiff(uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b); }

uint32_t GetBE32(const char* p) {
  const auto* u = reinterpret_cast<const uint8_t*>(p);
  return (uint32_t{u[0]} << 24) | (uint32_t{u[1]} << 16) | (uint32_t{u[2]} << 8) | u[3];
}

uint16_t GetBE16(const char* p) {
  const auto* u = reinterpret_cast<const uint8_t*>(p);
  return static_cast<uint16_t>((u[0] << 8) | u[1]);
}

void SetBE32(char* p, uint32_t v) {
  p[0] = static_cast<char>(v >> 24);
  p[1] = static_cast<char>(v >> 16);
  p[2] = static_cast<char>(v >> 8);
  p[3] = static_cast<char>(v);
}

void SetBE16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v >> 8);
  p[1] = static_cast<char>(v);
}

const char* StateName(PseudoTcp::TcpState state) {
  switch (state) {
    case PseudoTcp::TCP_LISTEN: return "TCP_LISTEN";
    case PseudoTcp::TCP_SYN_SENT: return "TCP_SYN_SENT";
    case PseudoTcp::TCP_SYN_RECEIVED: return "TCP_SYN_RECEIVED";
    case PseudoTcp::TCP_ESTABLISHED: return "TCP_ESTABLISHED";
    case PseudoTcp::TCP_CLOSED: return "TCP_CLOSED";
  }
  return "Unknown";
}

}  // namespace

PseudoTcp::PseudoTcp(PseudoTcpOwner* owner, uint32_t conversation, Clock clock)
    : owner_(owner), conversation_(conversation), clock_(std::move(clock)) {
  Tick now = clock_();
  last_traffic_ = last_send_ = last_receive_ = now;
  packet_.resize(kHeaderSize + 65535);
}

int PseudoTcp::Connect() {
  if (state_ != TCP_LISTEN) {
    error_ = kErrorInvalidState;
    return -1;
  }
  SetState(TCP_SYN_SENT);
  const char code = static_cast<char>(kControlConnect);
  Queue(&code, 1, true);
  AttemptSend(AckRequest::kNone);
  return 0;
}

int PseudoTcp::Recv(char* buffer, size_t length) {
  if (state_ != TCP_ESTABLISHED) {
    error_ = kSocketNotConnected;
    return -1;
  }
  if (rlen_ == 0) {
    read_wait_ = true;
    error_ = kSocketWouldBlock;
    return -1;
  }
  uint32_t n = static_cast<uint32_t>(std::min<size_t>(rlen_, length));
  receive_buffer_.ReadAt(0, buffer, n);
  receive_buffer_.Consume(n);
  rlen_ -= n;
  // Open the window only by sizeable steps, so the peer does not send slivers.
  if (kBufferSize - rlen_ - rcv_wnd_ >= std::min<uint32_t>(mss_, kBufferSize / 2)) {
    bool was_closed = rcv_wnd_ == 0;
    rcv_wnd_ = kBufferSize - rlen_;
    if (was_closed) AttemptSend(AckRequest::kImmediate);
  }
  return static_cast<int>(n);
}

int PseudoTcp::Send(const char* data, size_t length) {
  if (state_ != TCP_ESTABLISHED) {
    error_ = kSocketNotConnected;
    return -1;
  }
  if (slen_ == kSendBufferSize) {
    write_wait_ = true;
    error_ = kSocketWouldBlock;
    return -1;
  }
  uint32_t n = static_cast<uint32_t>(std::min<size_t>(length, kSendBufferSize - slen_));
  Queue(data, n, false);
  AttemptSend(AckRequest::kNone);
  return static_cast<int>(n);
}

void PseudoTcp::Close() { shutdown_ = true; }

bool PseudoTcp::NotifyPacket(const char* bytes, size_t length) {
  if (length > 65535) {
    LOG(kWarning) << "PseudoTcp::NotifyPacket - packet too large";
    return false;
  }
  if (length < kHeaderSize) return false;
  Header header;
  header.conversation = GetBE32(bytes);
  header.seq = GetBE32(bytes + 4);
  header.ack = GetBE32(bytes + 8);
  header.flags = static_cast<uint8_t>(bytes[13]);
  header.window = GetBE16(bytes + 14);
  header.timestamp = GetBE32(bytes + 16);
  header.echo = GetBE32(bytes + 20);
  return Process(header, bytes + kHeaderSize, static_cast<uint32_t>(length - kHeaderSize));
}

void PseudoTcp::NotifyMTU(uint32_t mtu) {
  // Below the smallest plateau no segment would fit; above the largest no datagram could.
  mtu_hint_ = std::clamp<uint32_t>(mtu, kMtuPlateaus[kLastMtuLevel], kMtuPlateaus[0]);
  if (state_ == TCP_ESTABLISHED) AdjustMss();
}

bool PseudoTcp::GetNextClock(Tick now, int64_t* timeout) {
  if (shutdown_ && (state_ != TCP_ESTABLISHED || (slen_ == 0 && !delayed_ack_on_))) return false;
  if (state_ == TCP_CLOSED) {
    *timeout = kClosedClockMs;
    return true;
  }
  int64_t next = kIdleClockMs;
  if (delayed_ack_on_) next = std::min<int64_t>(next, delayed_ack_start_ + kDelayedAckMs - now);
  if (retransmit_timer_on_) {
    next = std::min<int64_t>(next, retransmit_timer_start_ + RetransmitDelay() - now);
  }
  if (snd_wnd_ == 0) next = std::min<int64_t>(next, last_send_ + rto_ - now);
  *timeout = next;
  return true;
}

void PseudoTcp::NotifyClock(Tick now) {
  if (state_ == TCP_CLOSED) return;
  if (retransmit_timer_on_ && retransmit_timer_start_ + RetransmitDelay() <= now) {
    if (segments_.empty()) {
      retransmit_timer_on_ = false;
    } else {
      SendResult result = Transmit(segments_.begin(), now);
      if (result == SendResult::kFailed) {
        Closedown(kSocketConnectionAborted);
        return;
      }
      if (result == SendResult::kSent) {
        ssthresh_ = std::max(InFlight() / 2, 2 * mss_);
        cwnd_ = mss_;
      }
      uint32_t limit = (result == SendResult::kBlocked || state_ != TCP_ESTABLISHED) ? kConnectingMaxRto : kMaxRto;
      rto_ = std::min(2 * rto_, limit);
      retransmit_timer_start_ = now;
      retransmit_timer_on_ = true;
    }
  }
  if (snd_wnd_ == 0 && last_send_ + rto_ <= now) {
    if (now - last_receive_ >= kProbeGiveUpMs) {
      Closedown(kSocketConnectionAborted);
      return;
    }
    Packet(snd_nxt_ - 1, 0, 0, 0, now);
    last_send_ = now;
    rto_ = std::min(2 * rto_, kMaxRto);
  }
  if (delayed_ack_on_ && delayed_ack_start_ + kDelayedAckMs <= now) {
    // One try, like any datagram: an ACK the owner could not send must not make the clock spin.
    delayed_ack_on_ = false;
    Packet(snd_nxt_, 0, 0, 0, now);
  }
}

bool PseudoTcp::Process(const Header& header, const char* payload, uint32_t length) {
  if (header.conversation != conversation_) {
    LOG(kError) << "wrong conversation";
    return false;
  }
  Tick now = clock_();
  last_receive_ = last_traffic_ = now;
  outgoing_ = false;
  if (state_ == TCP_CLOSED) {
    LOG(kError) << "closed";
    return false;
  }
  if (header.flags & kFlagReset) {
    Closedown(kSocketConnectionReset);
    return false;
  }
  bool control = (header.flags & kFlagControl) != 0;
  bool opened = false;
  if (control) {
    if (length == 0) {
      LOG(kError) << "Missing control code";
      return false;
    }
    uint8_t code = static_cast<uint8_t>(payload[0]);
    if (code != kControlConnect) {
      LOG(kInfo) << "Unknown control code: " << static_cast<int>(code);
      return false;
    }
    if (state_ == TCP_LISTEN) {
      SetState(TCP_SYN_RECEIVED);
      const char reply = static_cast<char>(kControlConnect);
      Queue(&reply, 1, true);
    } else if (state_ == TCP_SYN_SENT) {
      SetState(TCP_ESTABLISHED);
      AdjustMss();
      opened = true;
    }
  }
  if (opened) owner_->OnTcpOpen(this);
  if (state_ == TCP_CLOSED) return false;

  if (SeqDiff(last_acked_, header.seq) >= 0 && SeqDiff(last_acked_, header.seq + length) < 0) {
    timestamp_recent_ = header.timestamp;
  }

  if (!ProcessAck(header, length, now)) return false;

  AckRequest request = AckRequest::kNone;
  if (header.seq != rcv_nxt_) {
    request = AckRequest::kImmediate;
  } else if (length > 0) {
    request = AckRequest::kDelayed;
  }
  bool new_data = false;
  ProcessPayload(header, payload, length, &request, &new_data);

  AttemptSend(request);
  if (new_data && read_wait_ && state_ == TCP_ESTABLISHED) {
    read_wait_ = false;
    owner_->OnTcpReadable(this);
  }
  return true;
}

bool PseudoTcp::ProcessAck(const Header& header, uint32_t length, Tick now) {
  bool control = (header.flags & kFlagControl) != 0;
  if (SeqDiff(header.ack, snd_una_) > 0 && SeqDiff(header.ack, snd_nxt_) <= 0) {
    if (header.echo != 0) UpdateRtt(now, header.echo);
    snd_wnd_ = header.window;
    uint32_t acked = header.ack - snd_una_;
    snd_una_ = header.ack;
    retransmit_timer_on_ = snd_una_ != snd_nxt_;
    retransmit_timer_start_ = now;
    slen_ -= acked;
    send_buffer_.Consume(acked);
    for (uint32_t left = acked; left > 0 && !segments_.empty();) {
      Segment& first = segments_.front();
      if (first.length <= left) {
        left -= first.length;
        segments_.pop_front();
      } else {
        first.seq += left;
        first.length -= left;
        left = 0;
      }
    }

    if (dup_acks_ >= 3) {
      if (SeqDiff(snd_una_, recover_) < 0) {
        // A partial ACK in recovery: the next hole is lost as well.
        if (Transmit(segments_.begin(), now) == SendResult::kFailed) {
          Closedown(kSocketConnectionAborted);
          return false;
        }
        cwnd_ = cwnd_ - std::min(acked, cwnd_) + mss_;
      } else {
        cwnd_ = std::min(ssthresh_, InFlight() + mss_);
        dup_acks_ = 0;
      }
    } else {
      dup_acks_ = 0;
      if (cwnd_ < ssthresh_) {
        // By the bytes acknowledged, up to two segments (RFC 3465): the peer acknowledges every
        // second segment, and one segment per ACK would grow the window by only half per round trip.
        cwnd_ += std::min(acked, 2 * mss_);
      } else {
        cwnd_ += std::max<uint32_t>(1, static_cast<uint32_t>(uint64_t{mss_} * mss_ / cwnd_));
      }
    }

    if (state_ == TCP_SYN_RECEIVED && !control) {
      SetState(TCP_ESTABLISHED);
      AdjustMss();
      owner_->OnTcpOpen(this);
      if (state_ == TCP_CLOSED) return false;
    }
    if (write_wait_ && slen_ < kSendBufferSize * 2 / 3) {
      write_wait_ = false;
      owner_->OnTcpWriteable(this);
      if (state_ == TCP_CLOSED) return false;
    }
  } else if (header.ack == snd_una_) {
    snd_wnd_ = header.window;
    if (length == 0) {
      if (header.ack == snd_nxt_) {
        dup_acks_ = 0;
      } else if (++dup_acks_ == 3) {
        if (Transmit(segments_.begin(), now) == SendResult::kFailed) {
          Closedown(kSocketConnectionAborted);
          return false;
        }
        recover_ = snd_nxt_;
        ssthresh_ = std::max(InFlight() / 2, 2 * mss_);
        cwnd_ = ssthresh_ + 3 * mss_;
      } else if (dup_acks_ > 3) {
        cwnd_ += mss_;
      }
    }
  }
  return true;
}

void PseudoTcp::ProcessPayload(const Header& header, const char* payload, uint32_t length,
                               AckRequest* request, bool* new_data) {
  bool control = (header.flags & kFlagControl) != 0;
  uint32_t seq = header.seq;
  // Drop what was already received.
  int32_t old = SeqDiff(rcv_nxt_, seq);
  if (old > 0) {
    if (static_cast<uint32_t>(old) >= length) return;
    payload += old;
    seq += static_cast<uint32_t>(old);
    length -= static_cast<uint32_t>(old);
  }
  if (length == 0) return;
  if (control) {
    // The connect byte takes a sequence number but is no data.
    if (seq == rcv_nxt_) rcv_nxt_ += length;
    return;
  }
  if (shutdown_) return;
  uint32_t ahead = seq - rcv_nxt_;
  uint32_t space = kBufferSize - rlen_;
  if (ahead >= space) return;
  length = std::min(length, space - ahead);

  if (ahead == 0) {
    receive_buffer_.WriteAt(rlen_, payload, length);
    uint32_t advance = length;
    while (!out_of_order_.empty()) {
      const Range& block = out_of_order_.front();
      int32_t gap = SeqDiff(block.seq, rcv_nxt_ + advance);
      if (gap > 0) break;
      int32_t beyond = SeqDiff(block.seq + block.length, rcv_nxt_ + advance);
      if (beyond > 0) advance += static_cast<uint32_t>(beyond);
      out_of_order_.pop_front();
      *request = AckRequest::kImmediate;
    }
    rlen_ += advance;
    rcv_nxt_ += advance;
    // A peer sending past the advertised window must not wrap it.
    rcv_wnd_ = advance >= rcv_wnd_ ? 0 : rcv_wnd_ - advance;
    *new_data = true;
  } else {
    receive_buffer_.WriteAt(rlen_ + ahead, payload, length);
    RecordOutOfOrder(seq, length);
  }
}

void PseudoTcp::RecordOutOfOrder(uint32_t seq, uint32_t length) {
  auto it = out_of_order_.begin();
  while (it != out_of_order_.end() && SeqDiff(it->seq + it->length, seq) < 0) ++it;
  // `it` is the first block ending at or after the new one's start: merge every block it touches.
  uint32_t start = seq;
  uint32_t end = seq + length;
  while (it != out_of_order_.end() && SeqDiff(it->seq, end) <= 0) {
    if (SeqDiff(it->seq, start) < 0) start = it->seq;
    if (SeqDiff(it->seq + it->length, end) > 0) end = it->seq + it->length;
    it = out_of_order_.erase(it);
  }
  out_of_order_.insert(it, Range{start, end - start});
}

void PseudoTcp::Queue(const char* data, uint32_t length, bool control) {
  if (!segments_.empty() && segments_.back().control == control && segments_.back().transmissions == 0) {
    segments_.back().length += length;
  } else {
    segments_.push_back(Segment{snd_una_ + slen_, length, control, 0});
  }
  send_buffer_.WriteAt(slen_, data, length);
  slen_ += length;
}

void PseudoTcp::AttemptSend(AckRequest request) {
  Tick now = clock_();
  // Restart after idle with two segments, not one: the peer acknowledges every second segment at
  // once, but a lone one only after its delayed-ACK time, which would stall every restart.
  if (now - last_send_ > rto_) cwnd_ = std::min(cwnd_, kInitialSegments * mss_);
  while (true) {
    uint32_t effective = cwnd_;
    if (dup_acks_ == 1 || dup_acks_ == 2) effective += dup_acks_ * mss_;
    uint32_t window = std::min(snd_wnd_, effective);
    uint32_t in_flight = InFlight();
    uint32_t usable = in_flight < window ? window - in_flight : 0;
    uint32_t available = std::min(slen_ - in_flight, mss_);
    if (available > usable) {
      // Silly window avoidance: wait for a quarter of the peer's window.
      available = uint64_t{usable} * 4 < snd_wnd_ ? 0 : usable;
    }
    if (available == 0) break;
    // Nagle, as Minshall refined it: hold a short segment back only while an earlier short one is
    // unacknowledged. Holding it behind full segments would leave the last full one alone in
    // flight, waiting out the peer's delayed ACK at the end of every burst.
    if (in_flight > 0 && available < mss_ && SeqDiff(short_sent_end_, snd_una_) > 0) break;
    auto segment = std::find_if(segments_.begin(), segments_.end(),
                                [](const Segment& s) { return s.transmissions == 0; });
    if (segment == segments_.end()) break;
    if (segment->length > available) SplitSegment(segment, available);
    if (segment->length < mss_) short_sent_end_ = segment->seq + segment->length;
    SendResult result = Transmit(segment, now);
    if (result == SendResult::kFailed) {
      LOG(kVerbose) << "PseudoTcp::attemptSend - transmit failed!";
      return;
    }
    if (result == SendResult::kBlocked) return;
    request = AckRequest::kNone;
  }
  if (request == AckRequest::kImmediate || delayed_ack_on_) {
    Packet(snd_nxt_, 0, 0, 0, now);
  } else if (request == AckRequest::kDelayed) {
    delayed_ack_on_ = true;
    delayed_ack_start_ = now;
  }
}

PseudoTcp::SendResult PseudoTcp::Transmit(std::list<Segment>::iterator segment, Tick now) {
  uint32_t limit = state_ == TCP_ESTABLISHED ? kMaxTransmitsEstablished : kMaxTransmitsConnecting;
  if (segment->transmissions >= limit) {
    LOG(kInfo) << "PseudoTcp::transmit - too many retransmits";
    return SendResult::kFailed;
  }
  uint32_t length = std::min(segment->length, mss_);
  while (true) {
    PseudoTcpOwner::WriteResult result =
        Packet(segment->seq, segment->control ? kFlagControl : 0, segment->seq - snd_una_, length, now);
    if (result == PseudoTcpOwner::WR_SUCCESS) break;
    if (result == PseudoTcpOwner::WR_WOULD_BLOCK) {
      if (InFlight() == 0 && !retransmit_timer_on_) {
        rto_ = kMinRto;
        retransmit_timer_on_ = true;
        retransmit_timer_start_ = now;
      }
      return SendResult::kBlocked;
    }
    if (result != PseudoTcpOwner::WR_TOO_LARGE) {
      LOG(kVerbose) << "PseudoTcp::transmit - packet failed";
      return SendResult::kFailed;
    }
    while (true) {
      if (kMtuPlateaus[mss_level_ + 1] == 0) {
        LOG(kVerbose) << "PseudoTcp::transmit - MTU too small";
        return SendResult::kFailed;
      }
      ++mss_level_;
      mss_ = kMtuPlateaus[mss_level_] - kPacketOverhead;
      cwnd_ = 2 * mss_;
      if (mss_ < length) break;
    }
    length = mss_;
  }
  if (length < segment->length) {
    LOG(kInfo) << "PseudoTcp::transmit - mss reduced to " << mss_;
    SplitSegment(segment, length);
  }
  if (segment->transmissions == 0) snd_nxt_ += segment->length;
  ++segment->transmissions;
  if (!retransmit_timer_on_) {
    retransmit_timer_on_ = true;
    retransmit_timer_start_ = now;
  }
  return SendResult::kSent;
}

PseudoTcpOwner::WriteResult PseudoTcp::Packet(uint32_t seq, uint8_t flags, uint32_t offset, uint32_t length,
                                              Tick now) {
  char* p = packet_.data();
  SetBE32(p, conversation_);
  SetBE32(p + 4, seq);
  SetBE32(p + 8, rcv_nxt_);
  p[12] = 0;
  p[13] = static_cast<char>(flags);
  SetBE16(p + 14, static_cast<uint16_t>(rcv_wnd_));
  SetBE32(p + 16, static_cast<uint32_t>(now));
  SetBE32(p + 20, timestamp_recent_);
  if (length > 0) send_buffer_.ReadAt(offset, p + kHeaderSize, length);
  PseudoTcpOwner::WriteResult result = owner_->TcpWritePacket(this, p, kHeaderSize + length);
  if (result != PseudoTcpOwner::WR_SUCCESS) return result;
  last_acked_ = rcv_nxt_;
  delayed_ack_on_ = false;
  if (length > 0) last_send_ = now;
  last_traffic_ = now;
  outgoing_ = true;
  return result;
}

void PseudoTcp::SplitSegment(std::list<Segment>::iterator segment, uint32_t first_length) {
  Segment rest{segment->seq + first_length, segment->length - first_length, segment->control, 0};
  segment->length = first_length;
  segments_.insert(std::next(segment), rest);
}

int64_t PseudoTcp::RetransmitDelay() const {
  // A lone segment is acknowledged only when the peer's delayed ACK falls due, which is later
  // than the shortest timeout: resending it then is spurious and would cut ssthresh to two
  // segments, leaving the rest of a bulk transfer to grow its window one segment per round trip.
  if (state_ == TCP_ESTABLISHED && InFlight() <= mss_) {
    return std::min<int64_t>(int64_t{rto_} + kDelayedAckMs, kMaxRto);
  }
  return rto_;
}

void PseudoTcp::UpdateRtt(Tick now, uint32_t echo) {
  int32_t rtt = SeqDiff(static_cast<uint32_t>(now), echo);
  if (rtt < 0) return;
  uint64_t sample = static_cast<uint64_t>(rtt);
  if (!rtt_sampled_) {
    rtt_sampled_ = true;
    srtt_ = static_cast<uint32_t>(sample);
    rttvar_ = static_cast<uint32_t>(sample / 2);
  } else {
    uint64_t deviation = sample > srtt_ ? sample - srtt_ : srtt_ - sample;
    rttvar_ = static_cast<uint32_t>((3 * uint64_t{rttvar_} + deviation) / 4);
    srtt_ = static_cast<uint32_t>((7 * uint64_t{srtt_} + sample) / 8);
  }
  uint64_t rto = uint64_t{srtt_} + std::max<uint64_t>(1, uint64_t{4} * rttvar_);
  rto_ = static_cast<uint32_t>(std::clamp<uint64_t>(rto, kMinRto, kMaxRto));
}

void PseudoTcp::AdjustMss() {
  mss_level_ = 0;
  while (mss_level_ < kLastMtuLevel && kMtuPlateaus[mss_level_] > mtu_hint_) ++mss_level_;
  mss_ = mtu_hint_ - kPacketOverhead;
  ssthresh_ = std::max(ssthresh_, 2 * mss_);
  cwnd_ = std::max(cwnd_, kInitialSegments * mss_);
}

void PseudoTcp::SetState(TcpState state) {
  state_ = state;
  LOG(kInfo) << "State: " << StateName(state);
}

void PseudoTcp::Closedown(int error) {
  slen_ = 0;
  segments_.clear();
  error_ = error;
  SetState(TCP_CLOSED);
  owner_->OnTcpClosed(this, error);
}

}  // namespace vexalo
