#include "p2p/client/httpportallocator.h"

#include "p2p/client/httpportallocatorsession.h"

namespace vexalo {

HTTPPortAllocator::HTTPPortAllocator(EventQueue* worker, std::vector<SocketAddress> stun_hosts,
                                     std::vector<std::string> relay_hosts, bool include_loopback)
    : PortAllocator(worker, include_loopback),
      stun_hosts_(std::move(stun_hosts)),
      relay_hosts_(std::move(relay_hosts)) {}

std::unique_ptr<AllocatorSession> HTTPPortAllocator::CreateSession(const std::string& name,
                                                                   int generation) {
  return std::make_unique<HTTPPortAllocatorSession>(this, name, generation);
}

}  // namespace vexalo
