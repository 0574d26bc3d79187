#include "p2p/client/p2psocket.h"

#include <algorithm>
#include <set>
#include <utility>

#include "base/net/socketerrors.h"
#include "base/runtime/logging.h"

namespace vexalo {

namespace {

double PreferenceProduct(const Connection* connection) {
  return static_cast<double>(connection->LocalCandidate().preference) *
         static_cast<double>(connection->remote_candidate().preference);
}

}  // namespace

P2PSocket::P2PSocket(const std::string& name, PortAllocator* allocator, EventQueue* thread)
    : name_(name), allocator_(allocator), thread_(thread) {}

P2PSocket::~P2PSocket() {
  // The sessions take their ports and those their connections along.
  best_connection_ = nullptr;
  connections_.clear();
  ports_.clear();
  DisconnectAllSlots();
  sessions_.clear();
}

void P2PSocket::HandleMessage(QueuedMessage* msg) {
  switch (msg->id) {
    case kSortMessage:
      Sort();
      break;
    case kPingMessage:
      PingTick();
      break;
    case kSignalingMessage:
      DoRequestSignaling();
      break;
    default:
      break;
  }
}

void P2PSocket::Connect() {
  DoRequestSignaling();
  thread_->Post(this, kPingMessage);
}

void P2PSocket::OnSignalingReady() {
  if (!signaling_requested_) return;
  signaling_requested_ = false;
  AddSession(allocator_->CreateSession(name_, static_cast<int>(sessions_.size())));
  thread_->PostAfter(kNewSessionMs, this, kSignalingMessage);
}

void P2PSocket::AddSession(std::unique_ptr<AllocatorSession> session) {
  if (!session) return;
  AllocatorSession* raw = session.get();
  sessions_.push_back(std::move(session));
  // Ports of earlier generations stay (their connections are kept) but get no new ones.
  ports_.clear();
  raw->PortReady.Connect(this, &P2PSocket::OnPortReady);
  raw->CandidatesReady.Connect(this, &P2PSocket::OnCandidatesReady);
  raw->GetInitialPorts();
  if (remote_seen_) raw->StartGetAllPorts();
}

void P2PSocket::OnCandidatesReady(AllocatorSession*, const std::vector<Candidate>& candidates) {
  CandidatesReady(this, candidates);
}

void P2PSocket::OnPortReady(AllocatorSession*, Port* port) {
  for (const auto& [option, value] : options_) ApplyOption(port, option, value);
  ports_.push_back(port);
  port->UnknownAddress.Connect(this, &P2PSocket::OnUnknownAddress);
  port->Destroyed.Connect(this, &P2PSocket::OnPortDestroyed);
  for (const RemoteCandidate& remote : std::vector<RemoteCandidate>(remote_candidates_)) {
    CreateConnection(port, remote.candidate, remote.origin, false);
  }
  RequestSort();
}

void P2PSocket::ApplyOption(Port* port, SocketOption option, int value) {
  if (port->SetOption(option, value) < 0) {
    LOG(kWarning) << "SetOption(" << option << ", " << value << ") failed: " << port->GetError();
  }
}

void P2PSocket::OnRemoteCandidates(const std::vector<Candidate>& candidates) {
  for (const Candidate& candidate : candidates) CreateConnections(candidate, nullptr, false);
  RequestSort();
}

bool P2PSocket::CreateConnection(Port* port, const Candidate& candidate, Port* origin,
                                 bool readable) {
  Connection* connection = port->GetConnection(candidate.address);
  if (connection == nullptr) {
    if (connections_.size() >= kMaxConnections) return false;
    CandidateOrigin kind = origin == port      ? ORIGIN_THIS_PORT
                           : origin != nullptr ? ORIGIN_OTHER_PORT
                                               : ORIGIN_MESSAGE;
    connection = port->CreateConnection(candidate, kind);
    if (connection == nullptr) return false;
    connections_.push_back(connection);
    connection->PacketReceived.Connect(this, &P2PSocket::OnConnectionPacket);
    connection->StateChanged.Connect(this, &P2PSocket::OnConnectionStateChange);
    connection->Destroyed.Connect(this, &P2PSocket::OnConnectionDestroyed);
  } else if (connection->remote_candidate() != candidate) {
    LOG(kInfo) << "Attempt to change a remote candidate";
    return false;
  }
  if (readable) connection->ReceivedPing();
  return true;
}

bool P2PSocket::CreateConnections(const Candidate& candidate, Port* origin, bool readable) {
  bool on_origin = false;
  bool origin_listed = false;
  for (auto it = ports_.rbegin(); it != ports_.rend(); ++it) {
    bool made = CreateConnection(*it, candidate, origin, readable);
    if (*it == origin) {
      origin_listed = true;
      on_origin = made;
    }
  }
  if (origin != nullptr && !origin_listed) {
    on_origin = CreateConnection(origin, candidate, origin, readable);
  }
  RememberRemoteCandidate(candidate, origin);
  return on_origin;
}

bool P2PSocket::RememberRemoteCandidate(const Candidate& candidate, Port* origin) {
  std::erase_if(remote_candidates_, [&](const RemoteCandidate& stored) {
    if (stored.candidate.generation >= candidate.generation) return false;
    LOG(kInfo) << "Pruning candidate from old generation: "
               << stored.candidate.address.ToString();
    return true;
  });
  for (const RemoteCandidate& stored : remote_candidates_) {
    if (stored.candidate == candidate) {
      LOG(kInfo) << "Duplicate candidate: " << candidate.address.ToString();
      return false;
    }
  }
  if (remote_candidates_.size() >= kMaxRemoteCandidates) {
    LOG(kWarning) << "Too many remote candidates, dropped: " << candidate.address.ToString();
    return false;
  }
  remote_candidates_.push_back({candidate, origin});
  if (!remote_seen_) {
    remote_seen_ = true;
    for (auto& session : sessions_) {
      if (!session->IsGettingAllPorts()) session->StartGetAllPorts();
    }
  }
  return true;
}

void P2PSocket::OnUnknownAddress(Port* port, const SocketAddress& address,
                                 const StunPacket& request, const std::string& remote_username) {
  const RemoteCandidate* match = nullptr;
  for (const RemoteCandidate& stored : remote_candidates_) {
    if (stored.candidate.username == remote_username) {
      match = &stored;
      break;
    }
  }
  if (match == nullptr) {
    port->SendBindingErrorResponse(request, address, 430, "STALE CREDENTIALS");
    return;
  }
  Candidate copy = match->candidate;
  copy.address = address;
  if (CreateConnections(copy, port, true)) {
    port->SendBindingResponse(request, address);
    RequestSort();
  } else {
    port->SendBindingErrorResponse(request, address, 500, "SERVER ERROR");
  }
}

void P2PSocket::OnPortDestroyed(Port* port) {
  std::erase(ports_, port);
  // A dying port takes its connections without a word; none may be left pointing at it.
  std::erase_if(connections_, [port](Connection* c) { return c->port() == port; });
  if (best_connection_ != nullptr && best_connection_->port() == port) best_connection_ = nullptr;
  LOG(kInfo) << "Removed port from p2p socket: " << ports_.size() << " remaining";
}

void P2PSocket::OnConnectionStateChange(Connection*) { RequestSort(); }

void P2PSocket::OnConnectionDestroyed(Connection* connection) {
  std::erase(connections_, connection);
  LOG(kInfo) << "Removed connection from p2p socket: " << connections_.size() << " remaining";
  if (best_connection_ == connection) best_connection_ = nullptr;
  RequestSort();
}

void P2PSocket::OnConnectionPacket(Connection* connection, const char* data, size_t size) {
  PacketReceived(this, data, size);
  ConnectionPacketReceived(this, connection, data, size);
}

int P2PSocket::Send(const char* data, size_t size) {
  if (best_connection_ == nullptr) {
    error_ = kSocketWouldBlock;
    return -1;
  }
  int sent = best_connection_->Send(data, size);
  if (sent <= 0) error_ = best_connection_->GetError();
  return sent;
}

int P2PSocket::SetOption(SocketOption option, int value) {
  auto it = options_.find(option);
  if (it != options_.end() && it->second == value) return 0;
  options_[option] = value;
  for (Port* port : ports_) ApplyOption(port, option, value);
  return 0;
}

void P2PSocket::Reset() {
  best_connection_ = nullptr;
  connections_.clear();
  for (Port* port : ports_) {
    port->UnknownAddress.Disconnect(this);
    port->Destroyed.Disconnect(this);
  }
  ports_.clear();
  DisconnectAllSlots();
  sessions_.clear();
  remote_candidates_.clear();
  SetState(STATE_CONNECTING);
  signaling_requested_ = false;
  remote_seen_ = false;
  sort_pending_ = false;
  was_writable_ = false;
  unwritable_reported_ = true;
  thread_->Clear(this);
  DoRequestSignaling();
  thread_->Post(this, kPingMessage);
}

bool P2PSocket::IsWritable() const {
  return best_connection_ != nullptr &&
         best_connection_->write_state() == Connection::STATE_WRITE_CONFIRMED;
}

int P2PSocket::Compare(const Connection* a, const Connection* b) {
  if (a->write_state() != b->write_state()) return a->write_state() < b->write_state() ? 1 : -1;
  double pa = PreferenceProduct(a);
  double pb = PreferenceProduct(b);
  if (pa > pb) return 1;
  if (pa < pb) return -1;
  return 0;
}

bool P2PSocket::ShouldSwitch(const Connection* current, const Connection* candidate) {
  if (current == candidate) return false;
  if (current == nullptr || candidate == nullptr) return true;
  int cmp = Compare(current, candidate);
  if (cmp != 0) return cmp < 0;
  // Equal by state and preference: only a path faster by more than 10 ms is worth the
  // change, so that two equal paths whose round trips jitter do not take turns.
  return candidate->rtt() + kSwitchRttMarginMs < current->rtt();
}

void P2PSocket::RequestSort() {
  if (sort_pending_) return;
  thread_->Post(this, kSortMessage);
  sort_pending_ = true;
}

void P2PSocket::Sort() {
  // Updating may destroy nothing (destruction is posted), so the list stays valid here.
  UpdateConnectionStates(thread_->Now());
  sort_pending_ = false;

  std::set<uint32_t> networks;
  for (Connection* connection : connections_) networks.insert(connection->port()->network().ip);

  std::stable_sort(connections_.begin(), connections_.end(),
                   [](const Connection* a, const Connection* b) {
                     int cmp = Compare(a, b);
                     return cmp > 0 || (cmp == 0 && a->rtt() < b->rtt());
                   });
  Connection* top = connections_.empty() ? nullptr : connections_.front();
  if (ShouldSwitch(best_connection_, top)) {
    best_connection_ = top;
    if (top != nullptr) BestConnectionChanged(this, top->remote_candidate().address);
  }

  for (uint32_t network : networks) {
    Connection* premier = nullptr;
    if (best_connection_ != nullptr && best_connection_->port()->network().ip == network) {
      premier = best_connection_;
    } else {
      for (Connection* connection : connections_) {
        if (connection->port()->network().ip == network) {
          premier = connection;
          break;
        }
      }
    }
    if (premier == nullptr || premier->write_state() != Connection::STATE_WRITE_CONFIRMED) {
      continue;
    }
    for (Connection* connection : connections_) {
      if (connection != premier && connection->port()->network().ip == network &&
          PreferenceProduct(connection) <= PreferenceProduct(premier)) {
        connection->Prune();
      }
    }
  }

  size_t confirmed = 0;
  size_t unconfirmed = 0;
  for (Connection* connection : connections_) {
    if (connection->write_state() == Connection::STATE_WRITE_CONFIRMED) ++confirmed;
    if (connection->write_state() == Connection::STATE_WRITE_UNCONFIRMED) ++unconfirmed;
  }
  if (confirmed > 0) {
    if (state_ != STATE_WRITABLE) {
      for (auto& session : sessions_) {
        if (session->IsGettingAllPorts()) session->StopGetAllPorts();
      }
      thread_->Clear(this, kSignalingMessage);
    }
    was_writable_ = true;
    unwritable_reported_ = false;
    SetState(STATE_WRITABLE);
  } else if (unconfirmed > 0) {
    if (was_writable_) {
      was_writable_ = false;
      DoRequestSignaling();
    }
    unwritable_reported_ = false;
    SetState(STATE_CONNECTING);
  } else {
    if (!unwritable_reported_) DoRequestSignaling();
    unwritable_reported_ = true;
    was_writable_ = false;
    SetState(STATE_CONNECTING);
  }
  Sorted(this);
}

bool P2PSocket::IsPingable(const Connection* connection) const {
  if (!connection->connected()) return false;
  if (state_ == STATE_WRITABLE) {
    return connection->write_state() != Connection::STATE_WRITE_FAILED;
  }
  return !(connection->write_state() == Connection::STATE_WRITE_FAILED &&
           connection->read_state() == Connection::STATE_READ_SILENT);
}

void P2PSocket::UpdateConnectionStates(Tick now) {
  for (Connection* connection : connections_) {
    connection->UpdateState(now, connection == best_connection_ ? kBestUnconfirmedAfterMs
                                                                : Connection::kUnconfirmedAfterMs);
  }
}

bool P2PSocket::BestHasOverduePing(Tick now) const {
  return best_connection_ != nullptr &&
         best_connection_->write_state() == Connection::STATE_WRITE_CONFIRMED &&
         best_connection_->HasOverduePing(now);
}

Connection* P2PSocket::FindConnectionToPing(Tick now) {
  if (best_connection_ != nullptr &&
      best_connection_->write_state() == Connection::STATE_WRITE_CONFIRMED &&
      (TickDiff(now, best_connection_->last_ping_sent()) >= kBestPingIntervalMs ||
       BestHasOverduePing(now))) {
    return best_connection_;
  }
  Connection* oldest = nullptr;
  for (Connection* connection : connections_) {
    if (!IsPingable(connection)) continue;
    if (oldest == nullptr || connection->last_ping_sent() < oldest->last_ping_sent()) {
      oldest = connection;
    }
  }
  return oldest;
}

void P2PSocket::PingTick() {
  const Tick now = thread_->Now();
  UpdateConnectionStates(now);
  const bool writable = state_ == STATE_WRITABLE;
  if (!writable || BestHasOverduePing(now) || TickDiff(now, next_regular_ping_) >= 0) {
    if (Connection* connection = FindConnectionToPing(now)) connection->Ping(now);
    if (TickDiff(now, next_regular_ping_) >= 0) {
      next_regular_ping_ = now + (writable ? kPingWritableMs : kPingConnectingMs);
    }
  }
  // An unanswered check on the path in use is looked at again as soon as it is overdue and
  // then followed up at the fast pace: a dead path is known within a second, while a lost
  // packet costs only a few extra checks.
  int64_t delay = writable ? TickDiff(next_regular_ping_, now) : kPingConnectingMs;
  if (writable && best_connection_ != nullptr &&
      best_connection_->write_state() == Connection::STATE_WRITE_CONFIRMED &&
      !best_connection_->pings_since_last_response().empty()) {
    delay = BestHasOverduePing(now) ? kPingConnectingMs
                                    : std::min(delay, TickDiff(best_connection_->OverdueAt(), now));
  }
  thread_->PostAfter(static_cast<int>(std::clamp<int64_t>(delay, 1, kPingWritableMs)), this,
                     kPingMessage);
}

void P2PSocket::DoRequestSignaling() {
  signaling_requested_ = true;
  RequestSignaling(this);
}

void P2PSocket::SetState(State state) {
  if (state == state_) return;
  state_ = state;
  StateChanged(this, state);
}

}  // namespace vexalo
