#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "p2p/base/stuntransaction.h"

namespace vexalo {

// The outstanding requests of one user (a port or a connection): owns them, hands their bytes
// out through SendPacket and matches responses to them by transaction id.
class StunTransactionTable {
 public:
  explicit StunTransactionTable(EventQueue* queue);
  ~StunTransactionTable();
  StunTransactionTable(const StunTransactionTable&) = delete;
  StunTransactionTable& operator=(const StunTransactionTable&) = delete;

  void Send(std::unique_ptr<StunTransaction> transaction) {
    SendDelayed(std::move(transaction), 0);
  }
  void SendDelayed(std::unique_ptr<StunTransaction> transaction, int delay_ms);
  // Forgets the transaction (without destroying it) and cancels its pending transmissions.
  void Remove(StunTransaction* transaction);
  // Destroys every transaction: none is sent or reported afterwards.
  void Clear();

  // Whether the packet answered one of the transactions (which then reported and ended).
  bool CheckResponse(const StunPacket& packet);
  // The same for raw bytes; only bytes whose id is outstanding are parsed.
  bool CheckResponse(const char* data, size_t size);
  // Whether the bytes carry the id of an outstanding transaction; nothing is parsed.
  bool IsOutstanding(const char* data, size_t size) const;

  bool Contains(std::string_view id) const {
    return transactions_.find(id) != transactions_.end();
  }
  size_t size() const { return transactions_.size(); }
  EventQueue* queue() const { return queue_; }

  // The wire bytes of every transmission.
  Signal<const char*, size_t> SendPacket;

 private:
  EventQueue* queue_;
  std::map<std::string, StunTransaction*, std::less<>> transactions_;
};

}  // namespace vexalo
