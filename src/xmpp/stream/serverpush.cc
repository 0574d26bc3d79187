#include "xmpp/stream/serverpush.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

bool ServerPush::IsFromOwnServerOrAccount(const XmlElem& stanza, const XmppAddress& bound) {
  if (!stanza.HasAttribute(kQnFrom)) return true;
  const XmppAddress from(stanza.GetAttribute(kQnFrom));
  if (!from.IsValid() || !bound.IsValid()) return false;
  if (from.SameAccount(bound)) return true;
  return from.NodePart().empty() && !from.HasResource() && from.DomainPart() == bound.DomainPart();
}

bool ServerPush::IsFromOwnBareAccount(const XmlElem& stanza, const XmppAddress& bound) {
  if (!stanza.HasAttribute(kQnFrom)) return true;
  const XmppAddress from(stanza.GetAttribute(kQnFrom));
  return from.IsValid() && bound.IsValid() && !from.HasResource() && from.SameAccount(bound);
}

}  // namespace vexalo
