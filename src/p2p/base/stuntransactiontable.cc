#include "p2p/base/stuntransactiontable.h"

#include "base/runtime/logging.h"
#include "p2p/base/wirebuffer.h"

namespace vexalo {

StunTransactionTable::StunTransactionTable(EventQueue* queue) : queue_(queue) {}

StunTransactionTable::~StunTransactionTable() { Clear(); }

void StunTransactionTable::SendDelayed(std::unique_ptr<StunTransaction> transaction,
                                       int delay_ms) {
  StunTransaction* t = transaction.release();
  t->table_ = this;
  transactions_[t->id()] = t;
  queue_->PostAfter(delay_ms, t, StunTransaction::kSendMessage);
}

void StunTransactionTable::Remove(StunTransaction* transaction) {
  auto it = transactions_.find(transaction->id());
  if (it == transactions_.end() || it->second != transaction) return;
  transactions_.erase(it);
  transaction->table_ = nullptr;
  queue_->Clear(transaction, kAnyMessageId);
}

void StunTransactionTable::Clear() {
  while (!transactions_.empty()) {
    StunTransaction* t = transactions_.begin()->second;
    Remove(t);
    delete t;
  }
}

bool StunTransactionTable::IsOutstanding(const char* data, size_t size) const {
  if (size < StunPacket::kHeaderSize) return false;
  std::string_view id(data + 4, StunPacket::kTransactionIdSize);
  return transactions_.find(id) != transactions_.end();
}

bool StunTransactionTable::CheckResponse(const StunPacket& packet) {
  auto it = transactions_.find(packet.transaction_id());
  if (it == transactions_.end()) return false;
  StunTransaction* t = it->second;
  // Nobody can answer a request that has not gone out yet: its id is still secret.
  if (!t->packet()) return false;
  const uint16_t request_type = t->packet()->type();
  if (packet.type() == ResponseTypeFor(request_type)) {
    t->OnResponse(packet);
  } else if (packet.type() == ErrorTypeFor(request_type)) {
    t->OnErrorResponse(packet);
  } else {
    LOG(kError) << "Received response with wrong type: " << packet.type() << " (expecting "
                << ResponseTypeFor(request_type) << ")";
    return false;
  }
  // The handler may have cleared the table already.
  if (Contains(packet.transaction_id())) delete t;
  return true;
}

bool StunTransactionTable::CheckResponse(const char* data, size_t size) {
  if (!IsOutstanding(data, size)) return false;
  WireBuffer reader(data, size);
  StunPacket packet;
  if (!packet.Parse(&reader)) return false;
  return CheckResponse(packet);
}

}  // namespace vexalo
