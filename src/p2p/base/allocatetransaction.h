#pragma once

#include "base/runtime/timeutils.h"
#include "p2p/base/stuntransaction.h"

namespace vexalo {

class RelayEntry;

// Asks the relay server for (or refreshes) the allocation of one relay entry.
class AllocateTransaction : public StunTransaction {
 public:
  // A successful allocation is refreshed this often so the server keeps it.
  static constexpr int kRefreshMs = 600000;
  // An error answer this soon after the request still schedules a refresh; a later one means
  // the entry was stuck and is left alone.
  static constexpr int kRetryAfterErrorWithinMs = 50000;

  AllocateTransaction(RelayEntry* entry, Tick created) : entry_(entry), created_(created) {}

  void Prepare(StunPacket* packet) override;
  void OnResponse(const StunPacket& response) override;
  void OnErrorResponse(const StunPacket& response) override;
  void OnTimeout() override;
  // Sent at 0, 200, 400, 800 and 1600 ms; times out at 3200 ms.
  int NextDelay() override;

 private:
  RelayEntry* entry_;
  Tick created_;
};

}  // namespace vexalo
