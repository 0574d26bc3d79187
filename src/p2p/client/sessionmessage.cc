#include "p2p/client/sessionmessage.h"

namespace vexalo {

namespace {
constexpr const char* kTypeNames[] = {"initiate", "accept",   "modify",   "candidates",
                                      "reject",   "redirect", "terminate"};
}  // namespace

const char* SessionMessage::TypeName(Type type) { return kTypeNames[type]; }

std::optional<SessionMessage::Type> SessionMessage::TypeFromName(std::string_view name) {
  for (int i = TYPE_INITIATE; i <= TYPE_TERMINATE; ++i) {
    if (name == kTypeNames[i]) return static_cast<Type>(i);
  }
  return std::nullopt;
}

SessionMessage SessionMessage::Clone() const {
  SessionMessage copy;
  copy.type = type;
  copy.session_id = session_id;
  copy.from = from;
  copy.to = to;
  copy.iq_id = iq_id;
  copy.description_namespace = description_namespace;
  copy.description = description;
  copy.candidates = candidates;
  copy.redirect_target = redirect_target;
  if (cookie) copy.cookie = std::make_unique<XmlElem>(*cookie);
  if (stanza) copy.stanza = std::make_unique<XmlElem>(*stanza);
  return copy;
}

}  // namespace vexalo
