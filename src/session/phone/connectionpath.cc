#include "session/phone/connectionpath.h"

namespace vexalo {

std::string ConnectionPath(const ConnectionInfo& info) {
  const Candidate& local = info.local_candidate;
  const Candidate& remote = info.remote_candidate;
  if (local.type == "relay" || remote.type == "relay") return "relay";
  if (local.protocol == "ssltcp" || remote.protocol == "ssltcp") return "ssltcp";
  if (local.protocol == "tcp" || remote.protocol == "tcp") return "tcp";
  if (local.type == "stun" || remote.type == "stun") return "stun";
  return "local";
}

}  // namespace vexalo
