#pragma once

#include <functional>
#include <vector>

#include "p2p/client/p2psocket.h"
#include "session/phone/connectioninfo.h"
#include "session/phone/pollingmonitor.h"

namespace vexalo {

// Reports the connections of a call's socket: which is best, whether it works, its round trip.
class ConnectionMonitor : public PollingMonitor {
 public:
  // Faster polling would only load the worker: round trips change on the scale of pings.
  static constexpr int kMinIntervalMs = 250;
  using Listener = std::function<void(const std::vector<ConnectionInfo>&)>;

  // `socket` lives on `poll_thread`; `listener` runs on `report_thread`.
  ConnectionMonitor(P2PSocket* socket, EventQueue* poll_thread, EventQueue* report_thread,
                    int interval_ms, Listener listener);

  static std::vector<ConnectionInfo> Describe(P2PSocket* socket);

 private:
  MessagePayload* Sample() override;
  void Deliver(MessagePayload* sample) override;

  P2PSocket* socket_;
  Listener listener_;
};

}  // namespace vexalo
