#pragma once

#include <memory>
#include <set>
#include <string>

#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "p2p/client/sessionclient.h"
#include "session/tunnel/tunneldescription.h"
#include "session/tunnel/tunneldescriptionformat.h"

namespace vexalo {

class TunnelSession;
class TunnelStream;

// The session client of the tunnel namespace: makes a TunnelSession for every tunnel session,
// ours or the peer's. Incoming tunnels are announced and wait for the application's answer.
// Runs on the signalling thread.
class TunnelSessionClient : public SessionClient {
 public:
  // `registry` and `format` outlive the client.
  TunnelSessionClient(SessionRegistry* registry, const std::string& session_namespace,
                      TunnelDescriptionFormat* format, const std::string& local_jid);
  ~TunnelSessionClient() override;

  // Starts a tunnel to `remote_jid`; its stream's events arrive on `stream_thread`.
  std::unique_ptr<TunnelStream> CreateTunnel(const std::string& remote_jid,
                                             std::shared_ptr<const TunnelDescription> description,
                                             EventQueue* stream_thread);
  // Answers an announced tunnel; null when the session is not waiting for an answer.
  std::unique_ptr<TunnelStream> AcceptTunnel(Session* session, std::shared_ptr<const TunnelDescription> description,
                                             EventQueue* stream_thread);
  bool RejectTunnel(Session* session);

  size_t tunnel_count() const { return tunnels_.size(); }
  // A tunnel session that has finished; deletes it.
  void ForgetTunnel(TunnelSession* tunnel);

  // client, remote JID, the peer's description (null when it is not a tunnel's), session.
  Signal<TunnelSessionClient*, const std::string&, std::shared_ptr<const TunnelDescription>, Session*> IncomingTunnel;

 protected:
  void OnSessionCreated(Session* session, bool received) override;
  void OnSessionDestroyed(Session* session) override;

 private:
  TunnelSession* FindTunnel(Session* session) const;

  std::set<TunnelSession*> tunnels_;
  bool shutting_down_ = false;
};

}  // namespace vexalo
