#include "p2p/client/allocationrun.h"

#include <algorithm>

#include "base/runtime/logging.h"
#include "p2p/base/relayport.h"
#include "p2p/base/stunport.h"
#include "p2p/base/tcpport.h"
#include "p2p/base/turnport.h"
#include "p2p/base/udpport.h"
#include "p2p/client/allocatorsession.h"
#include "p2p/client/portallocator.h"

namespace vexalo {

namespace {
constexpr float kUdpPreference = 1.0f;
constexpr float kStunPreference = 0.9f;
constexpr float kTcpPreference = 0.8f;
constexpr float kRelayPreferenceBonus = 0.5f;
}  // namespace

AllocationRun::AllocationRun(AllocatorSession* session, const Network* network,
                             const PortConfiguration* config)
    : session_(session), network_(network), ip_(network->ip), config_(config) {
  PortAllocator* allocator = session->allocator();
  int best = allocator->best_phase();
  const ProxyType proxy = allocator->proxy().type;
  // Behind an HTTPS proxy UDP rarely gets out: the relay starts with it.
  if (best == -1 && (proxy == PROXY_HTTPS || proxy == PROXY_UNKNOWN)) best = 1;
  // A later generation is gathered because the path in use died: the relay is the likely
  // way on, and a call waiting a second more for it is a second more of silence.
  if (session->generation() > 0) best = std::max(best, 1);
  for (int i = 0; i < kPhaseCount; ++i) phase_steps_[i] = std::max(0, i - std::max(best, 0));
  Step();
}

AllocationRun::~AllocationRun() = default;

void AllocationRun::Start() {
  if (running_) return;
  running_ = true;
  session_->thread()->PostAfter(kStepIntervalMs, this, kStepMessage);
}

void AllocationRun::Stop() {
  running_ = false;
  session_->thread()->Clear(this, kStepMessage);
}

void AllocationRun::HandleMessage(QueuedMessage* msg) {
  if (msg->id == kStepMessage) Step();
}

bool AllocationRun::ProtocolEnabled(int protocol) const {
  return std::find(protocols_.begin(), protocols_.end(), protocol) != protocols_.end();
}

void AllocationRun::EnableProtocol(int protocol) {
  if (ProtocolEnabled(protocol)) return;
  protocols_.push_back(protocol);
  session_->OnProtocolEnabled(this, protocol);
}

void AllocationRun::Step() {
  PortAllocator* allocator = session_->allocator();
  EventQueue* thread = session_->thread();
  const uint32_t flags = allocator->flags();
  const SocketAddress local(ip_, 0);
  for (int phase = 0; phase < kPhaseCount; ++phase) {
    if (phase_steps_[phase] != step_) continue;
    switch (phase) {
      case PHASE_UDP:
        LOG(kInfo) << "Phase=UDP Step=" << step_;
        if (!(flags & PortAllocator::kDisableUdp)) {
          session_->AddPort(new UdpPort(thread, nullptr, *network_, local), this, kUdpPreference,
                            true);
        }
        if (!(flags & PortAllocator::kDisableStun) && config_ &&
            config_->stun_address.ip() != 0) {
          session_->AddPort(
              new StunPort(thread, nullptr, *network_, local, config_->stun_address), this,
              kStunPreference, true);
        }
        EnableProtocol(PROTO_UDP);
        break;
      case PHASE_RELAY:
        LOG(kInfo) << "Phase=RELAY Step=" << step_;
        if (!(flags & PortAllocator::kDisableRelay) && config_) {
          for (const RelayServerEntry& relay : config_->relays) {
            auto* port = new RelayPort(thread, nullptr, *network_, local, config_->username,
                                       config_->password, config_->magic_cookie);
            session_->AddPort(port, this, relay.preference + kRelayPreferenceBonus, false);
            for (const ProtocolAddress& address : relay.addresses) {
              port->AddServerAddress(address);
              port->AddExternalAddress(address);
            }
            port->PrepareAddress();
          }
          for (const TurnServerEntry& turn : config_->turn_servers) {
            session_->AddPort(new TurnPort(thread, nullptr, *network_, local, turn.address,
                                           turn.username, turn.password),
                              this, kRelayPreferenceBonus, true);
          }
        }
        break;
      case PHASE_TCP:
        LOG(kInfo) << "Phase=TCP Step=" << step_;
        if (!(flags & PortAllocator::kDisableTcp)) {
          session_->AddPort(new TcpPort(thread, nullptr, *network_, local), this, kTcpPreference,
                            true);
        }
        EnableProtocol(PROTO_TCP);
        break;
      case PHASE_SSLTCP:
        LOG(kInfo) << "Phase=SSLTCP Step=" << step_;
        EnableProtocol(PROTO_SSLTCP);
        break;
    }
  }
  ++step_;
  if (running_) thread->PostAfter(kStepIntervalMs, this, kStepMessage);
}

}  // namespace vexalo
