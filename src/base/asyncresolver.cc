#include "base/asyncresolver.h"

#include "base/socketaddress.h"

namespace vexalo {

AsyncResolver::AsyncResolver(std::string hostname) : hostname_(std::move(hostname)) {}

void AsyncResolver::DoWork() { ip_ = SocketAddress::Lookup(hostname_, true); }

}  // namespace vexalo
