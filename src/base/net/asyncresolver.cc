#include "base/net/asyncresolver.h"

#include "base/runtime/logging.h"
#include "base/net/socketaddress.h"

namespace vexalo {

AsyncResolver::AsyncResolver(std::string hostname) : hostname_(std::move(hostname)) {}

void AsyncResolver::DoWork() {
  LOG(kInfo) << "=== ASYNC DNS RESOLUTION (" << hostname_ << ") ===";
  ips_ = SocketAddress::LookupAll(hostname_, kMaxAddresses, &error_);
}

}  // namespace vexalo
