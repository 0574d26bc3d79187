#include "session/tunnel/tunnelsessionclient.h"

#include "base/runtime/logging.h"
#include "session/tunnel/tunnelsession.h"
#include "session/tunnel/tunnelstream.h"

namespace vexalo {

TunnelSessionClient::TunnelSessionClient(SessionRegistry* registry, const std::string& session_namespace,
                                         TunnelDescriptionFormat* format, const std::string& local_jid)
    : SessionClient(registry, session_namespace, format, local_jid) {}

TunnelSessionClient::~TunnelSessionClient() {
  shutting_down_ = true;
  // Tunnels still carrying a stream finish on their own once it closes.
  std::set<TunnelSession*> tunnels;
  tunnels.swap(tunnels_);
  for (TunnelSession* tunnel : tunnels) {
    tunnel->DetachClient();
    tunnel->DetachSession();
  }
}

std::unique_ptr<TunnelStream> TunnelSessionClient::CreateTunnel(const std::string& remote_jid,
                                                                std::shared_ptr<const TunnelDescription> description,
                                                                EventQueue* stream_thread) {
  Session* session = CreateSession();
  if (session == nullptr) return nullptr;
  auto* tunnel = new TunnelSession(this, session);
  tunnels_.insert(tunnel);
  std::unique_ptr<TunnelStream> stream = tunnel->AttachStream(stream_thread);
  session->Initiate(remote_jid, std::move(description));
  return stream;
}

std::unique_ptr<TunnelStream> TunnelSessionClient::AcceptTunnel(Session* session,
                                                                std::shared_ptr<const TunnelDescription> description,
                                                                EventQueue* stream_thread) {
  TunnelSession* tunnel = FindTunnel(session);
  if (tunnel == nullptr || session->state() != Session::STATE_RECEIVEDINITIATE) return nullptr;
  std::unique_ptr<TunnelStream> stream = tunnel->AttachStream(stream_thread);
  if (!session->Accept(std::move(description))) return nullptr;
  return stream;
}

bool TunnelSessionClient::RejectTunnel(Session* session) {
  if (FindTunnel(session) == nullptr) return false;
  return session->Reject();
}

void TunnelSessionClient::ForgetTunnel(TunnelSession* tunnel) {
  tunnels_.erase(tunnel);
  delete tunnel;
}

void TunnelSessionClient::OnSessionCreated(Session* session, bool received) {
  LOG(kInfo) << "TunnelSessionClient::OnSessionCreate: received=" << received;
  if (received) tunnels_.insert(new TunnelSession(this, session));
}

void TunnelSessionClient::OnSessionDestroyed(Session* session) {
  LOG(kInfo) << "TunnelSessionClient::OnSessionDestroy";
  if (shutting_down_) return;
  if (TunnelSession* tunnel = FindTunnel(session)) tunnel->DetachSession();
}

TunnelSession* TunnelSessionClient::FindTunnel(Session* session) const {
  for (TunnelSession* tunnel : tunnels_) {
    if (tunnel->session() == session) return tunnel;
  }
  return nullptr;
}

}  // namespace vexalo
