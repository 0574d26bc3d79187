#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/runtime/queuedmessage.h"
#include "base/runtime/timeutils.h"
#include "p2p/base/stunpacket.h"

namespace vexalo {

class StunTransactionTable;

// One STUN request: sent, resent on a schedule until answered or out of time, then exactly one
// outcome (response, error response or time-out), after which it is destroyed. The schedule
// runs on delayed messages of its table's queue and reads that queue's clock.
class StunTransaction : public MessageTarget {
 public:
  static constexpr uint32_t kSendMessage = 1;

  StunTransaction();
  ~StunTransaction() override;
  StunTransaction(const StunTransaction&) = delete;
  StunTransaction& operator=(const StunTransaction&) = delete;

  const std::string& id() const { return id_; }
  // Null until the first transmission.
  const StunPacket* packet() const { return packet_.get(); }
  StunTransactionTable* table() const { return table_; }
  bool timed_out() const { return timed_out_; }
  // Milliseconds since the latest transmission: the round-trip time when a response arrives.
  int Elapsed() const;

  void HandleMessage(QueuedMessage* msg) override;

  virtual void Prepare(StunPacket* packet) { (void)packet; }
  virtual void OnResponse(const StunPacket& response) { (void)response; }
  virtual void OnErrorResponse(const StunPacket& response) { (void)response; }
  virtual void OnTimeout() {}
  // The wait before the next transmission, or before the time-out once timed_out is set.
  // By default: 100 x min(2^sends, 16) ms, giving up after the ninth transmission.
  virtual int NextDelay();

 protected:
  int sends_ = 0;
  bool timed_out_ = false;

 private:
  friend class StunTransactionTable;

  std::string id_;
  StunTransactionTable* table_ = nullptr;
  std::unique_ptr<StunPacket> packet_;
  Tick sent_at_ = 0;
};

}  // namespace vexalo
