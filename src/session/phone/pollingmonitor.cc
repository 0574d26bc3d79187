#include "session/phone/pollingmonitor.h"

#include <memory>

namespace vexalo {

PollingMonitor::PollingMonitor(EventQueue* poll_thread, EventQueue* report_thread,
                               int interval_ms)
    : poll_thread_(poll_thread), report_thread_(report_thread), interval_ms_(interval_ms) {}

PollingMonitor::~PollingMonitor() = default;

void PollingMonitor::Start() {
  poll_thread_->Clear(this, kPollMessage);
  poll_thread_->Post(this, kPollMessage);
}

void PollingMonitor::Stop() {
  poll_thread_->Clear(this, kPollMessage);
  report_thread_->Clear(this, kReportMessage);
}

void PollingMonitor::HandleMessage(QueuedMessage* msg) {
  if (msg->id == kPollMessage) {
    if (MessagePayload* sample = Sample()) report_thread_->Post(this, kReportMessage, sample);
    poll_thread_->PostAfter(interval_ms_, this, kPollMessage);
  } else if (msg->id == kReportMessage) {
    std::unique_ptr<MessagePayload> sample(msg->payload);
    msg->payload = nullptr;
    Deliver(sample.get());
  }
}

}  // namespace vexalo
