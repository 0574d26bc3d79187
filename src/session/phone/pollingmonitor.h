#pragma once

#include <cstdint>

#include "base/runtime/eventqueue.h"
#include "base/runtime/queuedmessage.h"

namespace vexalo {

// Samples something on one thread at a fixed interval and hands each sample to another
// thread. Destroy it on the polling thread (or while that thread cannot run it).
class PollingMonitor : public MessageTarget {
 public:
  enum MessageId : uint32_t { kPollMessage = 1, kReportMessage = 2 };

  PollingMonitor(EventQueue* poll_thread, EventQueue* report_thread, int interval_ms);
  ~PollingMonitor() override;
  PollingMonitor(const PollingMonitor&) = delete;
  PollingMonitor& operator=(const PollingMonitor&) = delete;

  void Start();
  void Stop();
  int interval_ms() const { return interval_ms_; }

  void HandleMessage(QueuedMessage* msg) override;

 protected:
  // On the polling thread: one sample, or null for none this time.
  virtual MessagePayload* Sample() = 0;
  // On the report thread; owns nothing (the payload is deleted after).
  virtual void Deliver(MessagePayload* sample) = 0;

 private:
  EventQueue* poll_thread_;
  EventQueue* report_thread_;
  int interval_ms_;
};

}  // namespace vexalo
