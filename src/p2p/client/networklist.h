#pragma once

#include <map>
#include <string>
#include <vector>

#include "p2p/base/network.h"

namespace vexalo {

// The local IPv4 networks, from getifaddrs: interfaces that are up and have an IPv4
// address, loopback only when asked (tests). They are named "0", "1", ... in interface
// index order, and a record lives as long as the list so that a run made for a network is
// found again by the next enumeration.
class NetworkList {
 public:
  explicit NetworkList(bool include_loopback = false) : include_loopback_(include_loopback) {}

  // The current networks; the pointers stay valid for the life of the list.
  std::vector<const Network*> GetNetworks();

 private:
  bool include_loopback_;
  std::map<std::string, Network> networks_;
};

}  // namespace vexalo
