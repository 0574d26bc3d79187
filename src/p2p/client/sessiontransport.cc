#include "p2p/client/sessiontransport.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "base/runtime/loopthread.h"

namespace vexalo {

SessionTransport::SessionTransport(EventQueue* signaling, EventQueue* worker,
                                   PortAllocator* allocator)
    : signaling_(signaling), worker_(worker ? worker : signaling), allocator_(allocator) {}

SessionTransport::~SessionTransport() {
  InvokeOnWorker(kDestroySocket, nullptr);
  signaling_->Clear(this);
  worker_->Clear(this);
}

void SessionTransport::InvokeOnWorker(uint32_t id, MessagePayload* payload) {
  auto* loop = dynamic_cast<LoopThread*>(worker_);
  if (loop != nullptr && loop != signaling_ && loop->IsStarted() && !loop->IsCurrent()) {
    loop->Invoke(this, id, payload);
    return;
  }
  QueuedMessage msg;
  msg.target = this;
  msg.id = id;
  msg.payload = payload;
  HandleMessage(&msg);
}

P2PSocket* SessionTransport::CreateP2PSocket(const std::string& name) {
  SocketRequest request{name, nullptr};
  InvokeOnWorker(kCreateSocket, new MessageData<SocketRequest*>(&request));
  return request.socket;
}

void SessionTransport::DestroyP2PSocket(P2PSocket* socket) {
  SocketRequest request{std::string(), socket};
  InvokeOnWorker(kDestroySocket, new MessageData<SocketRequest*>(&request));
}

void SessionTransport::AllowCandidates() {
  candidates_allowed_ = true;
  signaling_->Post(this, kFlushCandidates);
}

void SessionTransport::OnRemoteCandidates(const std::vector<Candidate>& candidates) {
  worker_->Post(this, kRemoteCandidates, new MessageData<std::vector<Candidate>>(candidates));
}

void SessionTransport::OnSignalingReady() { worker_->Post(this, kSignalingReady); }

void SessionTransport::ResetSockets() { worker_->Post(this, kResetSockets); }

void SessionTransport::HandleMessage(QueuedMessage* msg) {
  switch (msg->id) {
    case kCreateSocket: {
      SocketRequest* request = msg->TakePayload<MessageData<SocketRequest*>>()->value();
      if (sockets_.size() >= kMaxSockets) break;
      auto* socket = new P2PSocket(request->name, allocator_, worker_);
      socket->CandidatesReady.Connect(this, &SessionTransport::OnSocketCandidates);
      socket->StateChanged.Connect(this, &SessionTransport::OnSocketState);
      socket->RequestSignaling.Connect(this, &SessionTransport::OnSocketRequestSignaling);
      sockets_.push_back(socket);
      socket->Connect();
      request->socket = socket;
      std::vector<Candidate> held;
      std::erase_if(held_candidates_, [&](const Candidate& candidate) {
        if (candidate.name != socket->name()) return false;
        held.push_back(candidate);
        return true;
      });
      if (!held.empty()) socket->OnRemoteCandidates(held);
      break;
    }
    case kDestroySocket: {
      if (msg->payload == nullptr) {
        DestroyAllSockets();
        break;
      }
      SocketRequest* request = msg->TakePayload<MessageData<SocketRequest*>>()->value();
      auto it = std::find(sockets_.begin(), sockets_.end(), request->socket);
      if (it == sockets_.end()) break;
      sockets_.erase(it);
      delete request->socket;
      OnSocketState(nullptr, P2PSocket::STATE_CONNECTING);
      break;
    }
    case kSignalingReady:
      for (P2PSocket* socket : sockets_) socket->OnSignalingReady();
      break;
    case kRemoteCandidates: {
      auto data = msg->TakePayload<MessageData<std::vector<Candidate>>>();
      for (P2PSocket* socket : sockets_) {
        std::vector<Candidate> mine;
        for (const Candidate& candidate : data->value()) {
          if (candidate.name == socket->name()) mine.push_back(candidate);
        }
        if (!mine.empty()) socket->OnRemoteCandidates(mine);
      }
      for (const Candidate& candidate : data->value()) {
        const bool claimed = std::any_of(sockets_.begin(), sockets_.end(), [&](P2PSocket* s) {
          return s->name() == candidate.name;
        });
        if (!claimed && held_candidates_.size() < kMaxHeldCandidates) {
          held_candidates_.push_back(candidate);
        }
      }
      break;
    }
    case kResetSockets:
      for (P2PSocket* socket : sockets_) socket->Reset();
      break;
    case kFlushCandidates:
      FlushCandidates();
      break;
    case kRequestSignaling:
      RequestSignaling();
      break;
    case kWritableChanged:
      WritableChanged();
      break;
    default:
      break;
  }
}

void SessionTransport::DestroyAllSockets() {
  std::vector<P2PSocket*> sockets;
  sockets.swap(sockets_);
  for (P2PSocket* socket : sockets) delete socket;
}

void SessionTransport::OnSocketCandidates(P2PSocket*, const std::vector<Candidate>& candidates) {
  std::lock_guard<std::mutex> hold(lock_);
  pending_.insert(pending_.end(), candidates.begin(), candidates.end());
  if (candidates_allowed_) signaling_->Post(this, kFlushCandidates);
}

void SessionTransport::FlushCandidates() {
  if (!candidates_allowed_) return;
  std::vector<Candidate> ready;
  {
    std::lock_guard<std::mutex> hold(lock_);
    ready.swap(pending_);
  }
  if (!ready.empty()) CandidatesReady(ready);
}

void SessionTransport::OnSocketState(P2PSocket*, P2PSocket::State) {
  bool writable = std::any_of(sockets_.begin(), sockets_.end(),
                              [](const P2PSocket* s) { return s->IsWritable(); });
  if (writable == any_writable_) return;
  any_writable_ = writable;
  // The session's writability rule runs on the signalling thread.
  signaling_->Post(this, kWritableChanged);
}

void SessionTransport::OnSocketRequestSignaling(P2PSocket*) {
  signaling_->Post(this, kRequestSignaling);
}

}  // namespace vexalo
