#include "p2p/base/connection.h"

#include <algorithm>

#include "base/runtime/logging.h"
#include "p2p/base/pingtransaction.h"
#include "p2p/base/port.h"

namespace vexalo {

namespace {
constexpr int64_t kReadTimeoutMs = 30000;
constexpr size_t kPingsBeforeUnconfirmed = 5;
constexpr int64_t kFailedAfterMs = 15000;
constexpr int64_t kMinPingWindowMs = 100;
constexpr int64_t kMaxPingWindowMs = 3000;
}  // namespace

Connection::Connection(Port* port, size_t local_candidate_index, const Candidate& remote)
    : port_(port),
      local_candidate_index_(local_candidate_index),
      remote_(remote),
      requests_(port->thread()) {
  requests_.SendPacket.Connect(this, &Connection::OnSendPacket);
}

Connection::~Connection() = default;

Candidate Connection::LocalCandidate() const {
  const auto& candidates = port_->candidates();
  return local_candidate_index_ < candidates.size() ? candidates[local_candidate_index_]
                                                    : Candidate();
}

void Connection::HandleMessage(QueuedMessage* msg) {
  (void)msg;
  LOG(kInfo) << "Destroying connection: from " << LocalCandidate().address.ToString() << " to "
             << remote_.address.ToString();
  Destroyed(this);
  delete this;
}

void Connection::SetReadState(ReadState state) {
  if (state == read_state_) return;
  read_state_ = state;
  StateChanged(this);
  if (read_state_ == STATE_READ_SILENT && write_state_ == STATE_WRITE_FAILED) {
    port_->thread()->Post(this, kDestroyMessage);
  }
}

void Connection::SetWriteState(WriteState state) {
  if (state == write_state_) return;
  write_state_ = state;
  StateChanged(this);
  if (read_state_ == STATE_READ_SILENT && write_state_ == STATE_WRITE_FAILED) {
    port_->thread()->Post(this, kDestroyMessage);
  }
}

void Connection::SetConnected(bool connected) {
  const bool was = connected_;
  connected_ = connected;
  if (was && !connected) SetWriteState(STATE_WRITE_FAILED);
}

void Connection::Prune() {
  pruned_ = true;
  requests_.Clear();
  SetWriteState(STATE_WRITE_FAILED);
}

void Connection::OnSendPacket(const char* data, size_t size) {
  port_->SendTo(data, size, remote_.address, false);
}

void Connection::Ping(Tick now) {
  last_ping_sent_ = now;
  if (pings_since_last_response_.size() < kMaxUnansweredPings) {
    pings_since_last_response_.push_back(now);
  }
  requests_.Send(std::make_unique<PingTransaction>(this));
}

void Connection::ReceivedPing() {
  last_ping_received_ = port_->thread()->Now();
  SetReadState(STATE_READ_LIVE);
}

int64_t Connection::PingWindowMs() const {
  return rtt_samples_ == 0
             ? kMaxPingWindowMs
             : std::clamp<int64_t>(2 * int64_t{rtt_}, kMinPingWindowMs, kMaxPingWindowMs);
}

Tick Connection::OverdueAt() const {
  return pings_since_last_response_.empty()
             ? 0
             : pings_since_last_response_.front() + PingWindowMs() + 1;
}

bool Connection::HasOverduePing(Tick now) const {
  return !pings_since_last_response_.empty() &&
         TickDiff(now, pings_since_last_response_.front()) > PingWindowMs();
}

void Connection::UpdateState(Tick now, int64_t unconfirmed_after_ms) {
  if (read_state_ == STATE_READ_LIVE &&
      TickDiff(now, last_ping_received_) >= kReadTimeoutMs) {
    SetReadState(STATE_READ_SILENT);
  }
  const auto& pings = pings_since_last_response_;
  if (write_state_ == STATE_WRITE_CONFIRMED && pings.size() >= kPingsBeforeUnconfirmed) {
    if (TickDiff(now, pings[kPingsBeforeUnconfirmed - 1]) > PingWindowMs() &&
        TickDiff(now, pings.front()) > unconfirmed_after_ms) {
      SetWriteState(STATE_WRITE_UNCONFIRMED);
    }
  }
  if (write_state_ == STATE_WRITE_UNCONFIRMED && !pings.empty() &&
      TickDiff(now, pings.front()) > kFailedAfterMs) {
    SetWriteState(STATE_WRITE_FAILED);
  }
}

void Connection::OnPingResponse(const StunPacket& response, int rtt) {
  if (response.type() != STUN_BINDING_RESPONSE) return;
  const BytesAttr* username = response.FindBytes(STUN_ATTR_USERNAME);
  const std::string& fragment = port_->username_fragment();
  if (!username) {
    LOG(kError) << "Received likely STUN packet with no username";
    return;
  }
  if (username->bytes().size() <= fragment.size()) {
    LOG(kError) << "Received likely STUN packet with short username";
    return;
  }
  if (!username->bytes().ends_with(fragment)) {
    LOG(kError) << "Received STUN response with bad username";
    return;
  }
  SetWriteState(STATE_WRITE_CONFIRMED);
  pings_since_last_response_.clear();
  const uint32_t sample = static_cast<uint32_t>(std::max(rtt, 0));
  // The first sample stands alone: averaging it with an initial zero would report a quarter
  // of the real round trip.
  rtt_ = rtt_samples_ == 0 ? sample : (rtt_ * 3 + sample) / 4;
  ++rtt_samples_;
}

void Connection::OnPingErrorResponse(const StunPacket& response) {
  const ErrorAttr* error = response.FindError();
  const int code = error ? error->code() : STUN_ERROR_GLOBAL_FAILURE;
  if (code == STUN_ERROR_UNAUTHORIZED || code == STUN_ERROR_UNKNOWN_ATTRIBUTE ||
      code == STUN_ERROR_STALE_CREDENTIALS || code == STUN_ERROR_SERVER_ERROR) {
    return;
  }
  SetConnected(false);
}

void Connection::OnReadPacket(const char* data, size_t size) {
  std::unique_ptr<StunPacket> packet;
  std::string remote_username;
  if (!port_->GetStunMessage(data, size, remote_.address, &packet, &remote_username)) {
    if (read_state_ == STATE_READ_LIVE) {
      bytes_received_ += size;
      PacketReceived(this, data, size);
      if (!pruned_ && write_state_ == STATE_WRITE_FAILED) SetWriteState(STATE_WRITE_UNCONFIRMED);
    } else {
      LOG(kWarning) << "Received non-STUN packet from an unreadable connection.";
    }
    return;
  }
  if (!packet) return;
  if (remote_username != remote_.username) {
    LOG(kError) << "Received STUN packet on wrong address.";
    if (packet->type() == STUN_BINDING_REQUEST) {
      port_->SendBindingErrorResponse(*packet, remote_.address, STUN_ERROR_BAD_REQUEST,
                                      STUN_ERROR_REASON_BAD_REQUEST);
    }
    return;
  }
  if (packet->type() == STUN_BINDING_REQUEST) {
    port_->SendBindingResponse(*packet, remote_.address);
    if (!pruned_ && write_state_ == STATE_WRITE_FAILED) SetWriteState(STATE_WRITE_UNCONFIRMED);
    return;
  }
  requests_.CheckResponse(*packet);
}

uint32_t Connection::received_rate() {
  return received_rate_.Rate(bytes_received_, port_->thread()->Now());
}

uint32_t Connection::sent_rate() { return sent_rate_.Rate(bytes_sent_, port_->thread()->Now()); }

}  // namespace vexalo
