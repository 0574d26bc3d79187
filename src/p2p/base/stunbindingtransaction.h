#pragma once

#include "base/runtime/timeutils.h"
#include "p2p/base/stuntransaction.h"

namespace vexalo {

class StunPort;

// A classic binding request to the STUN server. Every outcome schedules the next one, so the
// port keeps asking for as long as it lives: the NAT mapping stays open.
class StunBindingTransaction : public StunTransaction {
 public:
  static constexpr int kKeepAliveMs = 10000;
  static constexpr int kRetryAfterTimeoutMs = 50;
  static constexpr int kGiveUpAfterMs = 50000;

  StunBindingTransaction(StunPort* port, Tick created) : port_(port), created_(created) {}

  void Prepare(StunPacket* packet) override;
  void OnResponse(const StunPacket& response) override;
  void OnErrorResponse(const StunPacket& response) override;
  void OnTimeout() override;

 private:
  bool GivenUp() const;
  void SendNext(int delay_ms);

  StunPort* port_;
  Tick created_;
};

}  // namespace vexalo
