#pragma once

#include <string>
#include <vector>

#include "app/serverlookup.h"
#include "base/runtime/signal.h"
#include "base/runtime/signalthread.h"
#include "base/net/socketaddress.h"

namespace vexalo {

// Looks up a domain's XMPP client servers ("_xmpp-client._tcp" SRV records) on a worker thread;
// WorkDone reports on the owner thread with targets() in the records' priority and weight
// order (empty when the domain has none), and so does SignalDone. Dispose of it with Destroy
// (or Dispose).
class SrvLookup : public SignalThread, public ServerLookup, public SlotHost {
 public:
  static constexpr size_t kMaxTargets = 8;

  explicit SrvLookup(std::string domain);
  void Start() override { SignalThread::Start(); }
  void Dispose() override { Destroy(); }
  const std::vector<SocketAddress>& targets() const override { return targets_; }

 protected:
  void DoWork() override;

 private:
  std::string domain_;
  std::vector<SocketAddress> targets_;
};

}  // namespace vexalo
