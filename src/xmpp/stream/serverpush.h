#pragma once

#include "xml/xmlelem.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// Who may push service data (settings, relay information, update checks) to us: our own
// server (no "from", or our domain alone) or our own account (our node and domain, any
// resource). Contacts may not.
class ServerPush {
 public:
  static bool IsFromOwnServerOrAccount(const XmlElem& stanza, const XmppAddress& bound);
  // Roster pushes are narrower: no "from", or our bare account address exactly. Our server's
  // domain and our other resources do not change our roster.
  static bool IsFromOwnBareAccount(const XmlElem& stanza, const XmppAddress& bound);
};

}  // namespace vexalo
