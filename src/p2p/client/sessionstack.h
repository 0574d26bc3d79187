#pragma once

#include <memory>
#include <vector>

#include "base/runtime/signal.h"
#include "p2p/client/portallocator.h"
#include "p2p/client/sessionclient.h"
#include "p2p/client/sessionregistry.h"
#include "xmpp/stream/xmppconnection.h"

namespace vexalo {

// The session layer of one open XMPP connection: the registry, the session clients' tasks
// and their stanzas. Made on the connection's thread once it is open; when the connection
// closes, every session ends and nothing more is sent.
class SessionStack : public SlotHost {
 public:
  // `allocator` is used on `worker` and outlives the stack.
  SessionStack(XmppConnection* connection, PortAllocator* allocator, EventQueue* worker);
  ~SessionStack() override;
  SessionStack(const SessionStack&) = delete;
  SessionStack& operator=(const SessionStack&) = delete;

  SessionRegistry* registry() { return &registry_; }
  // Starts taking the client's iqs and sending its stanzas; the client outlives the stack or
  // goes first.
  void AddClient(SessionClient* client);
  bool running() const { return connection_ != nullptr; }
  const std::string& local_jid() const { return local_jid_; }

 private:
  void OnSendStanza(SessionClient* client, const XmlElem& stanza, bool is_reply);
  void OnConnectionState(EngineState state);

  XmppConnection* connection_;
  std::string local_jid_;
  SessionRegistry registry_;
};

}  // namespace vexalo
