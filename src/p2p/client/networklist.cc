#include "p2p/client/networklist.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <utility>

#include "base/runtime/logging.h"

namespace vexalo {

std::vector<const Network*> NetworkList::GetNetworks() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    LOG_ERRNO(kWarning) << "getifaddrs";
    return {};
  }
  // (interface index, IPv4 address), first address of each interface only.
  std::vector<std::pair<unsigned, uint32_t>> found;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    if (!(entry->ifa_flags & IFF_UP)) continue;
    if ((entry->ifa_flags & IFF_LOOPBACK) && !include_loopback_) continue;
    const uint32_t ip = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
    if (ip == 0) continue;
    const unsigned index = if_nametoindex(entry->ifa_name);
    if (std::any_of(found.begin(), found.end(), [&](const auto& f) { return f.first == index; })) {
      continue;
    }
    found.emplace_back(index, ip);
  }
  freeifaddrs(list);
  std::sort(found.begin(), found.end());

  std::vector<const Network*> result;
  for (size_t i = 0; i < found.size(); ++i) {
    const std::string name = std::to_string(i);
    Network& network = networks_[name];
    network.name = name;
    network.ip = found[i].second;
    result.push_back(&network);
  }
  return result;
}

}  // namespace vexalo
