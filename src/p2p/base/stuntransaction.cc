#include "p2p/base/stuntransaction.h"

#include <algorithm>

#include "p2p/base/randomgenerator.h"
#include "p2p/base/stuntransactiontable.h"
#include "p2p/base/wirebuffer.h"

namespace vexalo {

namespace {
constexpr int kMaxSends = 9;
}  // namespace

StunTransaction::StunTransaction()
    : id_(RandomGenerator::RandomString(StunPacket::kTransactionIdSize)) {}

StunTransaction::~StunTransaction() {
  if (table_) table_->Remove(this);
}

int StunTransaction::Elapsed() const {
  return static_cast<int>(TickDiff(table_->queue()->Now(), sent_at_));
}

int StunTransaction::NextDelay() {
  int delay = 100 * std::min(1 << sends_, 16);
  if (++sends_ >= kMaxSends) timed_out_ = true;
  return delay;
}

void StunTransaction::HandleMessage(QueuedMessage* msg) {
  (void)msg;
  if (!packet_) {
    packet_ = std::make_unique<StunPacket>();
    packet_->SetTransactionId(id_);
    Prepare(packet_.get());
  }
  if (timed_out_) {
    OnTimeout();
    delete this;
    return;
  }
  EventQueue* queue = table_->queue();
  sent_at_ = queue->Now();
  WireBuffer bytes;
  packet_->Serialize(&bytes);
  // A listener may clear the table, which destroys this transaction: look it up again after.
  StunTransactionTable* table = table_;
  const std::string id = id_;
  table->SendPacket(bytes.Data(), bytes.Length());
  if (!table->Contains(id)) return;
  queue->PostAfter(NextDelay(), this, kSendMessage);
}

}  // namespace vexalo
