#include "base/net/dnslookuptask.h"

#include "base/net/asyncresolver.h"
#include "base/runtime/logging.h"
#include "base/net/socketerrors.h"

namespace vexalo {

DNSLookupTask::DNSLookupTask(StepTaskParent* parent, const SocketAddress& address, uint32_t tag)
    : StepTask(parent), address_(address), tag_(tag) {}

DNSLookupTask::~DNSLookupTask() {
  if (resolver_) {
    resolver_->WorkDone.Disconnect(this);
    resolver_->Destroy();
  }
}

int DNSLookupTask::ProcessStart() {
  LOG(kInfo) << "=== DNS LOOKUP RESOLUTION (" << address_.hostname() << ") ===";
  resolver_ = new AsyncResolver(address_.hostname());
  resolver_->WorkDone.Connect(this, &DNSLookupTask::OnResolved);
  resolver_->Start();
  return STATE_RESPONSE;
}

void DNSLookupTask::OnResolved(SignalThread* thread) {
  auto* resolver = static_cast<AsyncResolver*>(thread);
  if (resolver != resolver_) return;
  replied_ = true;
  addresses_ = resolver->ips();
  if (addresses_.size() > kMaxAddresses) addresses_.resize(kMaxAddresses);
  error_ = resolver->error() == 0 && !addresses_.empty() ? 0 : kSocketHostNotFound;
  resolver_->WorkDone.Disconnect(this);
  resolver_->Destroy();
  resolver_ = nullptr;
  Wake();
}

void DNSLookupTask::Poll() {
  if (!replied_ && !reported_ && ElapsedTime() >= kReportAfter100ns) {
    LOG(kInfo) << "DNS lookup of " << address_.hostname() << " has no answer yet";
    Report({}, kSocketHostNotFound);
  }
}

int DNSLookupTask::ProcessResponse() {
  if (!replied_) return STATE_BLOCKED;
  Report(error_ == 0 ? addresses_ : std::vector<uint32_t>(), error_);
  return STATE_DONE;
}

void DNSLookupTask::Report(const std::vector<uint32_t>& addresses, int error) {
  if (reported_) return;
  reported_ = true;
  Resolved.Emit(addresses, address_.port(), error, tag_);
}

}  // namespace vexalo
