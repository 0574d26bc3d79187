#include "p2p/client/sessionstack.h"

#include "base/runtime/loopthread.h"
#include "base/runtime/threadregistry.h"
#include "p2p/client/sessionreceivetask.h"
#include "p2p/client/sessionsendtask.h"

namespace vexalo {

SessionStack::SessionStack(XmppConnection* connection, PortAllocator* allocator,
                           EventQueue* worker)
    : connection_(connection),
      local_jid_(connection->GetBoundAddress().ToString()),
      registry_(allocator, ThreadRegistry::Current(), worker) {
  connection_->SignalStateChange.Connect(this, &SessionStack::OnConnectionState);
  // Signalling is there as long as the connection is: requests are granted at once.
  registry_.RequestSignaling.Connect(this, [this] {
    if (running()) registry_.OnSignalingReady();
  });
}

SessionStack::~SessionStack() { registry_.DestroyAllSessions(); }

void SessionStack::AddClient(SessionClient* client) {
  client->SendStanza.Connect(this, &SessionStack::OnSendStanza);
  if (!running()) return;
  (new SessionReceiveTask(connection_, client))->Start();
}

void SessionStack::OnSendStanza(SessionClient* client, const XmlElem& stanza, bool is_reply) {
  if (!running()) return;
  if (is_reply) {
    connection_->SendStanza(stanza);
    return;
  }
  (new SessionSendTask(connection_, client, stanza))->Start();
}

void SessionStack::OnConnectionState(EngineState state) {
  if (state != EngineState::kClosed) return;
  // The runner deletes the connection, and its tasks with it.
  connection_ = nullptr;
  registry_.DestroyAllSessions();
}

}  // namespace vexalo
