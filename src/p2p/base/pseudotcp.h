#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <vector>

#include "base/runtime/timeutils.h"
#include "p2p/base/bytering.h"
#include "p2p/base/pseudotcpowner.h"

namespace vexalo {

// A reliable, ordered byte stream over unreliable datagrams: a compact TCP with one control byte
// for the handshake, byte sequence numbers, a receive window, timestamps, retransmission with
// back-off, slow start, congestion avoidance, fast retransmit and recovery, delayed ACKs, window
// probes and path-MTU steps. It owns no socket, thread or clock: the owner feeds it packets and
// clock ticks, reads the time through `clock`, and serialises every call.
class PseudoTcp {
 public:
  enum TcpState { TCP_LISTEN = 0, TCP_SYN_SENT = 1, TCP_SYN_RECEIVED = 2, TCP_ESTABLISHED = 3, TCP_CLOSED = 4 };

  static constexpr size_t kHeaderSize = 24;
  static constexpr uint32_t kBufferSize = 61440;
  // Twice the largest window: the owner refills only once a third has drained (OnTcpWriteable), and
  // the unacknowledged bytes stay in this buffer, so one window's worth would leave the link idle
  // for part of every round trip. Local only: the peer sees just the receive window.
  static constexpr uint32_t kSendBufferSize = 2 * kBufferSize;
  static constexpr uint8_t kFlagControl = 0x02;
  static constexpr uint8_t kFlagReset = 0x04;
  static constexpr uint8_t kControlConnect = 0;
  // Connect outside TCP_LISTEN.
  static constexpr int kErrorInvalidState = 22;
  static constexpr uint32_t kMaxTransmitsEstablished = 15;
  static constexpr uint32_t kMaxTransmitsConnecting = 30;
  static constexpr int64_t kDelayedAckMs = 500;
  static constexpr int64_t kIdleClockMs = 4000;
  static constexpr int64_t kClosedClockMs = 60000;
  static constexpr uint32_t kMinRto = 250;
  static constexpr uint32_t kMaxRto = 60000;
  static constexpr uint32_t kConnectingMaxRto = 3000;
  static constexpr int64_t kProbeGiveUpMs = 15000;
  // 20 bytes of IP, 8 of UDP and our own header.
  static constexpr uint32_t kPacketOverhead = 52;
  // Initial and restart congestion window in segments: RFC 5681 allows three at this MSS.
  static constexpr uint32_t kInitialSegments = 3;

  using Clock = std::function<Tick()>;

  PseudoTcp(PseudoTcpOwner* owner, uint32_t conversation, Clock clock);
  PseudoTcp(const PseudoTcp&) = delete;
  PseudoTcp& operator=(const PseudoTcp&) = delete;

  int Connect();
  int Recv(char* buffer, size_t length);
  int Send(const char* data, size_t length);
  void Close();
  bool NotifyPacket(const char* bytes, size_t length);
  void NotifyMTU(uint32_t mtu);
  // False once closed down and nothing is left to send: the owner may then destroy this.
  bool GetNextClock(Tick now, int64_t* timeout);
  void NotifyClock(Tick now);
  int GetError() const { return error_; }

  TcpState state() const { return state_; }
  uint32_t mss() const { return mss_; }
  uint32_t cwnd() const { return cwnd_; }
  uint32_t ssthresh() const { return ssthresh_; }
  uint32_t rto() const { return rto_; }
  uint32_t srtt() const { return srtt_; }
  uint32_t send_window() const { return snd_wnd_; }
  uint32_t receive_window() const { return rcv_wnd_; }
  uint32_t duplicate_acks() const { return dup_acks_; }
  uint32_t buffered_send() const { return slen_; }
  uint32_t in_flight() const { return InFlight(); }
  uint32_t buffered_receive() const { return rlen_; }

 private:
  enum class AckRequest { kNone, kDelayed, kImmediate };
  enum class SendResult { kSent, kBlocked, kFailed };

  struct Segment {
    uint32_t seq = 0;
    uint32_t length = 0;
    bool control = false;
    uint32_t transmissions = 0;
  };
  struct Range {
    uint32_t seq = 0;
    uint32_t length = 0;
  };
  struct Header {
    uint32_t conversation = 0;
    uint32_t seq = 0;
    uint32_t ack = 0;
    uint8_t flags = 0;
    uint16_t window = 0;
    uint32_t timestamp = 0;
    uint32_t echo = 0;
  };

  bool Process(const Header& header, const char* payload, uint32_t length);
  bool ProcessAck(const Header& header, uint32_t length, Tick now);
  void ProcessPayload(const Header& header, const char* payload, uint32_t length, AckRequest* request,
                      bool* new_data);
  void RecordOutOfOrder(uint32_t seq, uint32_t length);
  void Queue(const char* data, uint32_t length, bool control);
  void AttemptSend(AckRequest request);
  SendResult Transmit(std::list<Segment>::iterator segment, Tick now);
  PseudoTcpOwner::WriteResult Packet(uint32_t seq, uint8_t flags, uint32_t offset, uint32_t length, Tick now);
  void SplitSegment(std::list<Segment>::iterator segment, uint32_t first_length);
  void UpdateRtt(Tick now, uint32_t echo);
  void AdjustMss();
  void SetState(TcpState state);
  void Closedown(int error);
  uint32_t InFlight() const { return snd_nxt_ - snd_una_; }
  // When the retransmission timer fires, from its start.
  int64_t RetransmitDelay() const;

  PseudoTcpOwner* owner_;
  uint32_t conversation_;
  Clock clock_;
  TcpState state_ = TCP_LISTEN;
  int error_ = 0;
  bool shutdown_ = false;
  bool read_wait_ = true;
  bool write_wait_ = false;
  bool outgoing_ = false;
  Tick last_traffic_;
  Tick last_send_;
  Tick last_receive_;

  ByteRing receive_buffer_{kBufferSize};
  uint32_t rlen_ = 0;
  uint32_t rcv_nxt_ = 0;
  uint32_t rcv_wnd_ = kBufferSize;
  // Blocks held ahead of rcv_nxt, sorted and merged so duplicates cannot make the list grow.
  std::list<Range> out_of_order_;

  ByteRing send_buffer_{kSendBufferSize};
  uint32_t slen_ = 0;
  std::list<Segment> segments_;
  uint32_t snd_una_ = 0;
  uint32_t snd_nxt_ = 0;
  uint32_t snd_wnd_ = 1;

  uint32_t mss_ = 16;
  uint32_t mtu_hint_ = 65535;
  size_t mss_level_ = 0;
  uint32_t cwnd_ = 32;
  uint32_t ssthresh_ = kBufferSize;
  uint32_t dup_acks_ = 0;
  // End of the last segment sent shorter than the MSS, for Nagle.
  uint32_t short_sent_end_ = 0;
  uint32_t recover_ = 0;
  uint32_t rto_ = 3000;
  uint32_t srtt_ = 0;
  uint32_t rttvar_ = 0;
  bool rtt_sampled_ = false;
  bool retransmit_timer_on_ = false;
  Tick retransmit_timer_start_ = 0;
  uint32_t timestamp_recent_ = 0;
  uint32_t last_acked_ = 0;
  bool delayed_ack_on_ = false;
  Tick delayed_ack_start_ = 0;

  std::vector<char> packet_;
};

}  // namespace vexalo
