#pragma once

#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

class CallClient;
struct ContactRecord;

// What a contact's coordinator needs of the application around it.
class ChatAppHost {
 public:
  virtual ~ChatAppHost() = default;
  // Null while not signed in.
  virtual CallClient* call_client() = 0;
  // Null for a contact we know nothing of.
  virtual const ContactRecord* FindContact(const XmppAddress& bare) = 0;
  virtual void PlaceCall(const XmppAddress& target) = 0;
  // The user answered a call from the contact.
  virtual void OnCallAccepted(const XmppAddress& bare) = 0;
  // The peer's client answered our session messages with an error.
  virtual void OnPeerRefusedSession(const XmppAddress& peer) = 0;
};

}  // namespace vexalo
