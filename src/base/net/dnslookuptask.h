#pragma once

#include <cstdint>
#include <vector>

#include "base/runtime/signal.h"
#include "base/net/socketaddress.h"
#include "base/runtime/steptask.h"

namespace vexalo {

class AsyncResolver;
class SignalThread;

// Resolves a host name without blocking the thread (a worker does the lookup) and reports the
// addresses once: when the answer comes, or after five seconds without one (as host not found;
// a late answer is then not reported again).
class DNSLookupTask : public StepTask, public SlotHost {
 public:
  static constexpr int64_t kReportAfter100ns = 5 * 10000000LL;  // five seconds
  static constexpr size_t kMaxAddresses = 4;

  DNSLookupTask(StepTaskParent* parent, const SocketAddress& address, uint32_t tag);
  ~DNSLookupTask() override;

  // Addresses (host byte order, resolver order, at most four), port, error (0, or 11001 for a
  // name that did not resolve), tag.
  Signal<const std::vector<uint32_t>&, uint16_t, int, uint32_t> Resolved;

 protected:
  int ProcessStart() override;
  int ProcessResponse() override;
  void Poll() override;

 private:
  void OnResolved(SignalThread* thread);
  void Report(const std::vector<uint32_t>& addresses, int error);

  SocketAddress address_;
  uint32_t tag_;
  AsyncResolver* resolver_ = nullptr;
  bool replied_ = false;
  bool reported_ = false;
  int error_ = 0;
  std::vector<uint32_t> addresses_;
};

}  // namespace vexalo
