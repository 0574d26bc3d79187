#include "p2p/client/allocatorsession.h"

#include <algorithm>
#include <utility>

#include "base/runtime/logging.h"
#include "p2p/base/connection.h"
#include "p2p/base/port.h"
#include "p2p/client/allocationrun.h"
#include "p2p/client/portallocator.h"

namespace vexalo {

AllocatorSession::AllocatorSession(std::string name, int generation)
    : name_(std::move(name)), generation_(generation) {}

AllocatorSession::AllocatorSession(PortAllocator* allocator, std::string name, int generation)
    : allocator_(allocator), name_(std::move(name)), generation_(generation) {}

AllocatorSession::~AllocatorSession() {
  if (thread_) thread_->Clear(this);
  runs_.clear();
  std::vector<PortEntry> ports;
  ports.swap(ports_);
  for (PortEntry& entry : ports) {
    entry.port->Destroyed.Disconnect(this);
    delete entry.port;
  }
}

void AllocatorSession::GetInitialPorts() {
  if (!allocator_) return;
  thread_ = allocator_->worker();
  thread_->Post(this, kGetConfigurationsMessage);
}

void AllocatorSession::StartGetAllPorts() {
  running_ = true;
  if (configured_ && thread_) thread_->PostAfter(kAllocateIntervalMs, this, kAllocateMessage);
  for (auto& run : runs_) run->Start();
  for (PortEntry& entry : ports_) entry.port->Start();
}

void AllocatorSession::StopGetAllPorts() {
  running_ = false;
  if (thread_) thread_->Clear(this, kAllocateMessage);
  for (auto& run : runs_) run->Stop();
}

void AllocatorSession::GetPortConfigurations() {
  auto config = std::make_unique<PortConfiguration>();
  config->turn_servers = allocator_->turn_servers();
  ConfigurationReady(std::move(config));
}

void AllocatorSession::ConfigurationReady(std::unique_ptr<PortConfiguration> configuration) {
  thread_->Post(this, kConfigurationReadyMessage,
                new MessageData<std::unique_ptr<PortConfiguration>>(std::move(configuration)));
}

void AllocatorSession::HandleMessage(QueuedMessage* msg) {
  switch (msg->id) {
    case kGetConfigurationsMessage:
      GetPortConfigurations();
      break;
    case kConfigurationReadyMessage: {
      auto data = msg->TakePayload<MessageData<std::unique_ptr<PortConfiguration>>>();
      configurations_.push_back(std::move(data->value()));
      thread_->Post(this, kAllocateMessage);
      break;
    }
    case kAllocateMessage:
      Allocate();
      break;
    default:
      break;
  }
}

void AllocatorSession::Allocate() {
  const PortConfiguration* config =
      configurations_.empty() ? nullptr : configurations_.back().get();
  for (const Network* network : allocator_->network_list()->GetNetworks()) {
    const bool covered = std::any_of(runs_.begin(), runs_.end(), [&](const auto& run) {
      return run->network() == network && run->ip() == network->ip;
    });
    if (covered) continue;
    runs_.push_back(std::make_unique<AllocationRun>(this, network, config));
    if (running_) runs_.back()->Start();
  }
  configured_ = true;
  if (running_) thread_->PostAfter(kAllocateIntervalMs, this, kAllocateMessage);
}

void AllocatorSession::AddPort(Port* port, AllocationRun* run, float preference, bool prepare) {
  port->SetName(name_);
  port->SetPreference(preference);
  port->SetGeneration(static_cast<uint32_t>(generation_));
  if (allocator_->proxy().type != PROXY_NONE) {
    port->SetProxy(allocator_->user_agent(), allocator_->proxy());
  }
  ports_.push_back(PortEntry{port, run, false});
  port->AddressReady.Connect(this, &AllocatorSession::OnAddressReady);
  port->ConnectionCreated.Connect(this, &AllocatorSession::OnConnectionCreated);
  port->Destroyed.Connect(this, &AllocatorSession::OnPortDestroyed);
  if (prepare) port->PrepareAddress();
  if (running_) port->Start();
}

void AllocatorSession::SignalCandidates(Port* port, AllocationRun* run, int only_protocol) {
  std::vector<Candidate> candidates;
  for (const Candidate& candidate : port->candidates()) {
    ProtocolType proto;
    if (!StringToProto(candidate.protocol, &proto)) continue;
    const bool wanted = only_protocol >= 0 ? proto == only_protocol : run->ProtocolEnabled(proto);
    if (wanted) candidates.push_back(candidate);
  }
  if (!candidates.empty()) CandidatesReady(this, candidates);
}

void AllocatorSession::OnProtocolEnabled(AllocationRun* run, int protocol) {
  for (const PortEntry& entry : ports_) {
    if (entry.run == run && entry.ready) SignalCandidates(entry.port, run, protocol);
  }
}

void AllocatorSession::OnAddressReady(Port* port) {
  auto it = std::find_if(ports_.begin(), ports_.end(),
                         [port](const PortEntry& entry) { return entry.port == port; });
  if (it == ports_.end()) return;
  it->ready = true;
  AllocationRun* run = it->run;
  PortReady(this, port);
  SignalCandidates(port, run, -1);
}

void AllocatorSession::OnConnectionCreated(Port* port, Connection* connection) {
  (void)port;
  connection->StateChanged.Connect(this, &AllocatorSession::OnConnectionStateChanged);
}

void AllocatorSession::OnConnectionStateChanged(Connection* connection) {
  if (connection->write_state() != Connection::STATE_WRITE_CONFIRMED) return;
  const Candidate local = connection->LocalCandidate();
  int phase = 0;
  if (local.type == "local" && local.protocol == "tcp") {
    phase = 2;
  } else if (local.type == "relay") {
    phase = local.protocol == "udp" ? 1 : local.protocol == "tcp" ? 2 : 3;
  }
  allocator_->NoteWritablePhase(phase);
}

void AllocatorSession::OnPortDestroyed(Port* port) {
  auto it = std::find_if(ports_.begin(), ports_.end(),
                         [port](const PortEntry& entry) { return entry.port == port; });
  if (it == ports_.end()) return;
  ports_.erase(it);
  LOG(kInfo) << "Removed port from allocator: " << ports_.size() << " remaining";
}

}  // namespace vexalo
