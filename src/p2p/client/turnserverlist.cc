#include "p2p/client/turnserverlist.h"

#include "base/runtime/logging.h"

namespace vexalo {

std::vector<TurnServerEntry> TurnServerList::FromExternalServices(
    const std::vector<ExternalService>& services, bool use_dns) {
  std::vector<TurnServerEntry> entries;
  for (const ExternalService& service : services) {
    if (entries.size() >= kMaxServers) break;
    if (!service.IsTurnOverUdp() || !service.HasCredentials()) continue;
    SocketAddress address(service.host, service.port ? service.port : kDefaultTurnPort, use_dns);
    if (address.ip() == 0) {
      LOG(kWarning) << "TurnServerList: TURN host " << service.host << " did not resolve";
      continue;
    }
    entries.push_back(TurnServerEntry{address, service.username, service.password});
  }
  return entries;
}

}  // namespace vexalo
