#pragma once

#include "p2p/base/stuntransaction.h"

namespace vexalo {

class Connection;

// A connectivity check: one binding request, sent once; unanswered it simply times out 5 s
// later and stays counted among the connection's unanswered pings.
class PingTransaction : public StunTransaction {
 public:
  static constexpr int kTimeoutMs = 5000;

  explicit PingTransaction(Connection* connection) : connection_(connection) {}

  void Prepare(StunPacket* packet) override;
  void OnResponse(const StunPacket& response) override;
  void OnErrorResponse(const StunPacket& response) override;
  int NextDelay() override;

 private:
  Connection* connection_;
};

}  // namespace vexalo
