#include "session/tunnel/tunnelsession.h"

#include <algorithm>

#include "base/net/eventsocket.h"
#include "base/net/sockethub.h"
#include "base/net/socketerrors.h"
#include "base/runtime/logging.h"
#include "session/tunnel/tunneldescription.h"
#include "session/tunnel/tunnelsessionclient.h"
#include "session/tunnel/tunnelstream.h"

namespace vexalo {

using Guard = std::lock_guard<std::recursive_mutex>;

TunnelSession::TunnelSession(TunnelSessionClient* client, Session* session)
    : client_(client),
      session_(session),
      signaling_(client->registry()->signaling_thread()),
      worker_(client->registry()->worker_thread()),
      lock_(std::make_shared<std::recursive_mutex>()) {
  session_->StateChanged.Connect(this, &TunnelSession::OnSessionState);
}

TunnelSession::~TunnelSession() {
  worker_->Clear(this);
  signaling_->Clear(this);
  // Waits for a worker handler that is already running.
  Guard guard(*lock_);
  if (stream_) stream_->DetachTunnel();
}

std::unique_ptr<TunnelStream> TunnelSession::AttachStream(EventQueue* stream_thread) {
  Guard guard(*lock_);
  auto stream = std::make_unique<TunnelStream>(this, lock_, stream_thread);
  stream_ = stream.get();
  return stream;
}

void TunnelSession::DetachClient() {
  Guard guard(*lock_);
  client_ = nullptr;
}

void TunnelSession::DetachSession() {
  Guard guard(*lock_);
  if (session_) session_->StateChanged.Disconnect(this);
  session_ = nullptr;
  socket_ = nullptr;
  if (!close_posted_ && (!tcp_ || tcp_->state() != PseudoTcp::TCP_CLOSED)) PostStreamEvent(SE_CLOSE, 0);
  CleanUp();
}

void TunnelSession::OnSessionState(Session* session, Session::State state) {
  const char* name = Session::StateName(state);
  LOG(kInfo) << "TunnelSession::OnSessionState(" << (name ? name : "Unknown") << ")";
  switch (state) {
    case Session::STATE_RECEIVEDINITIATE:
      if (client_ == nullptr) {
        session->Reject();
      } else {
        client_->IncomingTunnel(client_, session->remote_name(),
                                std::dynamic_pointer_cast<const TunnelDescription>(session->remote_description()),
                                session);
      }
      break;
    case Session::STATE_SENTACCEPT:
    case Session::STATE_RECEIVEDACCEPT: {
      // Made without the lock: the socket is made by a synchronous call on the worker, whose
      // handlers take the lock.
      P2PSocket* socket = session->CreateP2PSocket("tcp");
      Guard guard(*lock_);
      if (socket == nullptr || tcp_) break;
      socket_ = socket;
      initiator_ = session->initiator();
      EventQueue* clock = worker_;
      tcp_ = std::make_unique<PseudoTcp>(this, 0, [clock] { return clock->Now(); });
      worker_->Post(this, kAttachMessage);
      break;
    }
    case Session::STATE_SENTREJECT:
    case Session::STATE_RECEIVEDREJECT:
    case Session::STATE_SENTTERMINATE:
    case Session::STATE_RECEIVEDTERMINATE: {
      Guard guard(*lock_);
      // The session takes its sockets down with it.
      socket_ = nullptr;
      if (stream_ && !close_posted_ && (!tcp_ || tcp_->state() != PseudoTcp::TCP_CLOSED)) {
        PostStreamEvent(SE_CLOSE, 0);
      }
      break;
    }
    default:
      break;
  }
}

void TunnelSession::AttachSocket() {
  Guard guard(*lock_);
  if (socket_ == nullptr) return;
  socket_->SetOption(OPT_DONT_FRAGMENT, 1);
  socket_->StateChanged.Connect(this, &TunnelSession::OnSocketState);
  socket_->PacketReceived.Connect(this, &TunnelSession::OnSocketRead);
  socket_->BestConnectionChanged.Connect(this, &TunnelSession::OnBestConnection);
  if (socket_->IsWritable()) OnSocketState(socket_, P2PSocket::STATE_WRITABLE);
  ArmClock();
}

void TunnelSession::OnSocketState(P2PSocket*, P2PSocket::State state) {
  LOG(kInfo) << "TunnelSession::OnSocketState("
             << (state == P2PSocket::STATE_WRITABLE ? "P2PSocket::STATE_WRITABLE" : "P2PSocket::STATE_CONNECTING")
             << ")";
  if (state != P2PSocket::STATE_WRITABLE) return;
  Guard guard(*lock_);
  on_worker_ = true;
  if (initiator_ && tcp_ && tcp_->state() == PseudoTcp::TCP_LISTEN) tcp_->Connect();
  on_worker_ = false;
  ArmClock();
}

void TunnelSession::OnSocketRead(P2PSocket*, const char* data, size_t size) {
  LOG(kVerbose) << "TunnelSession::OnSocketRead(" << size << ")";
  Guard guard(*lock_);
  if (!tcp_) return;
  on_worker_ = true;
  tcp_->NotifyPacket(data, size);
  on_worker_ = false;
  ArmClock();
}

void TunnelSession::OnBestConnection(P2PSocket*, const SocketAddress& address) {
  Guard guard(*lock_);
  if (!tcp_ || worker_->hub() == nullptr) return;
  std::unique_ptr<EventSocket> probe(worker_->hub()->CreateSocket(kDatagramSocket));
  if (!probe) return;
  if (probe->Connect(address) < 0) {
    LOG(kError) << "Socket::Connect: " << probe->GetError();
    return;
  }
  uint16_t mtu = 0;
  if (probe->EstimateMTU(&mtu) < 0) {
    LOG(kError) << "Socket::EstimateMTU: " << probe->GetError();
    return;
  }
  tcp_->NotifyMTU(mtu);
  ArmClock();
}

void TunnelSession::FlushPending() {
  Guard guard(*lock_);
  on_worker_ = true;
  while (!pending_packets_.empty()) {
    const std::string& packet = pending_packets_.front();
    if (socket_) socket_->Send(packet.data(), packet.size());
    pending_packets_.pop_front();
  }
  on_worker_ = false;
}

void TunnelSession::HandleMessage(QueuedMessage* msg) {
  switch (msg->id) {
    case kClockMessage: {
      Guard guard(*lock_);
      if (tcp_) {
        on_worker_ = true;
        tcp_->NotifyClock(worker_->Now());
        on_worker_ = false;
      }
      ArmClock();
      break;
    }
    case kAttachMessage:
      AttachSocket();
      break;
    case kFlushMessage:
      FlushPending();
      break;
    case kTerminateMessage: {
      LOG(kInfo) << "TunnelSession::OnMessage(MSG_TERMINATE)";
      Session* session = nullptr;
      {
        Guard guard(*lock_);
        session = session_;
      }
      if (session) session->Terminate();
      break;
    }
    case kDestroyMessage:
      LOG(kInfo) << "TunnelSession::OnMessage(MSG_DESTROY)";
      if (client_) {
        client_->ForgetTunnel(this);  // deletes this
      } else {
        delete this;
      }
      return;
    default:
      break;
  }
}

StreamState TunnelSession::GetStreamState() const {
  if (!tcp_) return STREAM_OPENING;
  switch (tcp_->state()) {
    case PseudoTcp::TCP_LISTEN:
    case PseudoTcp::TCP_SYN_SENT:
    case PseudoTcp::TCP_SYN_RECEIVED:
      return STREAM_OPENING;
    case PseudoTcp::TCP_ESTABLISHED:
      return STREAM_OPEN;
    default:
      return STREAM_CLOSED;
  }
}

StreamResult TunnelSession::ReadStream(char* buffer, size_t length, size_t* read, int* error) {
  if (!tcp_) return SR_BLOCK;
  int n = tcp_->Recv(buffer, length);
  LOG(kVerbose) << "TunnelSession::Read - Recv returned: " << n;
  if (n > 0) {
    if (read) *read = static_cast<size_t>(n);
    PostStreamEvent(SE_READ, 0);
    ArmClock();
    return SR_SUCCESS;
  }
  if (IsBlockingError(tcp_->GetError())) return SR_BLOCK;
  if (error) *error = tcp_->GetError();
  return SR_ERROR;
}

StreamResult TunnelSession::WriteStream(const char* data, size_t length, size_t* written, int* error) {
  if (!tcp_) return SR_BLOCK;
  int n = tcp_->Send(data, length);
  LOG(kVerbose) << "TunnelSession::Write - Send returned: " << n;
  if (n > 0) {
    if (written) *written = static_cast<size_t>(n);
    ArmClock();
    return SR_SUCCESS;
  }
  if (IsBlockingError(tcp_->GetError())) return SR_BLOCK;
  if (error) *error = tcp_->GetError();
  return SR_ERROR;
}

void TunnelSession::OnStreamClosed() {
  stream_ = nullptr;
  if (tcp_) {
    tcp_->Close();
    ArmClock();
    return;
  }
  // Closed before the tunnel came up: the session has nothing left to carry.
  if (session_) signaling_->Post(this, kTerminateMessage);
  CleanUp();
}

void TunnelSession::OnTcpOpen(PseudoTcp*) {
  LOG(kVerbose) << "TunnelSession::OnTcpOpen";
  PostStreamEvent(SE_OPEN | SE_READ | SE_WRITE, 0);
}

void TunnelSession::OnTcpReadable(PseudoTcp*) {
  LOG(kVerbose) << "TunnelSession::OnTcpReadable";
  PostStreamEvent(SE_READ, 0);
}

void TunnelSession::OnTcpWriteable(PseudoTcp*) {
  LOG(kVerbose) << "TunnelSession::OnTcpWriteable";
  PostStreamEvent(SE_WRITE, 0);
}

void TunnelSession::OnTcpClosed(PseudoTcp*, int error) {
  LOG(kVerbose) << "TunnelSession::OnTcpClosed";
  if (stream_ && !close_posted_) PostStreamEvent(SE_CLOSE, error);
}

PseudoTcpOwner::WriteResult TunnelSession::TcpWritePacket(PseudoTcp*, const char* bytes, size_t length) {
  if (socket_ == nullptr) return WR_FAILED;
  if (!on_worker_) {
    if (pending_packets_.size() < kMaxPendingPackets) pending_packets_.emplace_back(bytes, length);
    if (pending_packets_.size() == 1) worker_->Post(this, kFlushMessage);
    return WR_SUCCESS;
  }
  int sent = socket_->Send(bytes, length);
  if (sent > 0) {
    LOG(kVerbose) << "TunnelSession::TcpWritePacket(" << length << ") Sent";
    return WR_SUCCESS;
  }
  int error = socket_->GetError();
  if (IsBlockingError(error)) {
    LOG(kVerbose) << "TunnelSession::TcpWritePacket(" << length << ") Blocking";
    return WR_WOULD_BLOCK;
  }
  if (error == kSocketMessageSize) {
    LOG(kError) << "TunnelSession::TcpWritePacket(" << length << ") EMSGSIZE";
    return WR_TOO_LARGE;
  }
  LOG(kError) << "TunnelSession::TcpWritePacket(" << length << ") Error " << error;
  return WR_FAILED;
}

void TunnelSession::ArmClock() {
  if (!tcp_) return;
  worker_->Clear(this, kClockMessage);
  int64_t timeout = 0;
  if (tcp_->GetNextClock(worker_->Now(), &timeout)) {
    worker_->PostAfter(static_cast<int>(std::max<int64_t>(timeout, 0)), this, kClockMessage);
    return;
  }
  // Closed down with nothing left to send: the tcp and the session have served their turn.
  tcp_.reset();
  if (session_) signaling_->Post(this, kTerminateMessage);
  CleanUp();
}

void TunnelSession::PostStreamEvent(int events, int error) {
  if (stream_ == nullptr) return;
  if (events & SE_CLOSE) close_posted_ = true;
  stream_->PostEvent(events, error);
}

void TunnelSession::CleanUp() {
  if (stream_ || session_ || tcp_ || destroy_posted_) return;
  destroy_posted_ = true;
  signaling_->Post(this, kDestroyMessage);
}

}  // namespace vexalo
