#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "p2p/base/candidate.h"
#include "p2p/client/sessiondescription.h"
#include "p2p/client/sessionid.h"
#include "xml/xmlelem.h"

namespace vexalo {

// One session message, independent of its XML form.
struct SessionMessage {
  enum Type {
    TYPE_INITIATE = 0,
    TYPE_ACCEPT = 1,
    TYPE_MODIFY = 2,
    TYPE_CANDIDATES = 3,
    TYPE_REJECT = 4,
    TYPE_REDIRECT = 5,
    TYPE_TERMINATE = 6,
  };

  // "initiate" ... "terminate".
  static const char* TypeName(Type type);
  static std::optional<Type> TypeFromName(std::string_view name);
  // Initiate, accept and modify carry a description; no other type may.
  static bool CarriesDescription(Type type) { return type <= TYPE_MODIFY; }

  SessionMessage() = default;
  SessionMessage(SessionMessage&&) = default;
  SessionMessage& operator=(SessionMessage&&) = default;
  // Deep copy (cookie and stanza included).
  SessionMessage Clone() const;

  Type type = TYPE_INITIATE;
  SessionId session_id;
  std::string from;
  std::string to;
  std::string iq_id;
  std::string description_namespace;
  std::shared_ptr<const SessionDescription> description;
  std::vector<Candidate> candidates;
  std::string redirect_target;
  // Its children travel with a redirect and with the initiate that follows it.
  std::unique_ptr<XmlElem> cookie;
  // The iq the message came in, kept to answer it.
  std::unique_ptr<XmlElem> stanza;
};

}  // namespace vexalo
