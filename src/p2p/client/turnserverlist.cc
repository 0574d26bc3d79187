#include "p2p/client/turnserverlist.h"

namespace vexalo {

std::vector<TurnServerEntry> TurnServerList::FromExternalServices(
    const std::vector<ExternalService>& services) {
  std::vector<TurnServerEntry> entries;
  for (const ExternalService& service : services) {
    if (entries.size() >= kMaxServers) break;
    if (!service.IsTurnOverUdp() || !service.HasCredentials()) continue;
    const SocketAddress address(service.host, service.port ? service.port : kDefaultTurnPort,
                                false);
    entries.push_back(TurnServerEntry{address, service.username, service.password});
  }
  return entries;
}

}  // namespace vexalo
