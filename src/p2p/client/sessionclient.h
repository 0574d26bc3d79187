#pragma once

#include <memory>
#include <string>

#include "base/runtime/signal.h"
#include "p2p/client/descriptionformat.h"
#include "p2p/client/sessionmessagecodec.h"
#include "p2p/client/sessionregistry.h"
#include "xml/xmlelem.h"

namespace vexalo {

// The session code shared by every kind of session (calls, tunnels): turns this client's
// session iqs into messages for the registry and its sessions' messages and replies into iqs.
// A kind of session plugs in its description format and reacts to its sessions coming and
// going.
class SessionClient : public SlotHost {
 public:
  // `registry` and `format` outlive the client. `local_jid` is our full JID.
  SessionClient(SessionRegistry* registry, const std::string& session_namespace,
                DescriptionFormat* format, const std::string& local_jid);
  ~SessionClient() override;
  SessionClient(const SessionClient&) = delete;
  SessionClient& operator=(const SessionClient&) = delete;

  const std::string& client_namespace() const { return codec_.description_namespace(); }
  const SessionMessageCodec& codec() const { return codec_; }
  SessionRegistry* registry() const { return registry_; }

  bool IsSessionStanza(const XmlElem& stanza) const { return codec_.IsSessionStanza(stanza); }
  void OnIncomingStanza(const XmlElem& stanza);
  // A result changes nothing: acknowledgements are not awaited.
  void OnResponse(const XmlElem& sent, const XmlElem& reply);
  // `reply` is null when none came in time.
  void OnFailedSend(const XmlElem& sent, const XmlElem* reply);

  // Our own client's session, created here or by an incoming initiate.
  Session* CreateSession();

  // A reply (`is_reply`) goes out at once; any other stanza through a task that awaits its
  // answer and reports it back here.
  Signal<SessionClient*, const XmlElem&, bool> SendStanza;
  // Emitted first thing in the destructor: tasks holding the client let go of it.
  Signal<> Destroying;

 protected:
  virtual void OnSessionCreated(Session* session, bool received);
  virtual void OnSessionDestroyed(Session* session);

 private:
  void OnRegistrySessionCreated(Session* session, bool received);
  void OnOutgoingMessage(Session* session, const SessionMessage& message);
  void SendReply(const SessionResponse& response);

  SessionRegistry* registry_;
  SessionMessageCodec codec_;
  std::string local_jid_;
  bool handling_incoming_ = false;
};

}  // namespace vexalo
