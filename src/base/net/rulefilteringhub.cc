#include "base/net/rulefilteringhub.h"

#include <algorithm>

#include "base/net/socketerrors.h"

namespace vexalo {

RuleFilteringHub::RuleFilteringHub(SocketHub* hub, bool owns_hub, RuleFilteringManager* manager)
    : hub_(hub), owns_hub_(owns_hub), manager_(manager) {
  if (manager_) manager_->AddHub(this);
}

RuleFilteringHub::~RuleFilteringHub() {
  if (manager_) manager_->RemoveHub(this);
  if (owns_hub_) delete hub_;
}

EventSocket* RuleFilteringHub::CreateSocket(int type) {
  EventSocket* socket = hub_->CreateSocket(type);
  return socket ? new RuleFilteringSocket(socket, this, type) : nullptr;
}

EventSocket* RuleFilteringHub::CreateEventSocket(int type) {
  EventSocket* socket = hub_->CreateEventSocket(type);
  return socket ? new RuleFilteringSocket(socket, this, type) : nullptr;
}

void RuleFilteringHub::AddRule(const FilterRule& rule) {
  std::lock_guard<std::mutex> hold(lock_);
  rules_.push_back(rule);
}

void RuleFilteringHub::ClearRules() {
  std::lock_guard<std::mutex> hold(lock_);
  rules_.clear();
}

bool RuleFilteringHub::Check(FilterProtocol protocol, FilterDirection direction,
                             const SocketAddress& address) {
  std::lock_guard<std::mutex> hold(lock_);
  for (const FilterRule& rule : rules_) {
    if (rule.protocol != FP_ANY && rule.protocol != protocol) continue;
    if (rule.direction != FD_ANY && rule.direction != direction) continue;
    if (rule.address.ip() != 0 && rule.address.ip() != address.ip()) continue;
    if (rule.address.port() != 0 && rule.address.port() != address.port()) continue;
    return rule.allow;
  }
  return true;
}

void RuleFilteringManager::AddHub(RuleFilteringHub* hub) {
  std::lock_guard<std::mutex> hold(lock_);
  hubs_.push_back(hub);
}

void RuleFilteringManager::RemoveHub(RuleFilteringHub* hub) {
  std::lock_guard<std::mutex> hold(lock_);
  hubs_.erase(std::remove(hubs_.begin(), hubs_.end(), hub), hubs_.end());
}

void RuleFilteringManager::AddRule(const FilterRule& rule) {
  std::lock_guard<std::mutex> hold(lock_);
  for (RuleFilteringHub* hub : hubs_) hub->AddRule(rule);
}

void RuleFilteringManager::ClearRules() {
  std::lock_guard<std::mutex> hold(lock_);
  for (RuleFilteringHub* hub : hubs_) hub->ClearRules();
}

void ApplySimulationMode(RuleFilteringManager* manager, int mode, const SocketAddress& proxy) {
  manager->ClearRules();
  if (mode < 1 || mode > 4) return;
  const SocketAddress any;
  manager->AddRule({false, FP_UDP, FD_ANY, any});
  switch (mode) {
    case 2:
      manager->AddRule({false, FP_TCP, FD_IN, any});
      break;
    case 3:
      manager->AddRule({true, FP_TCP, FD_OUT, SocketAddress(0, 80)});
      manager->AddRule({true, FP_TCP, FD_OUT, SocketAddress(0, 443)});
      manager->AddRule({false, FP_TCP, FD_ANY, any});
      break;
    case 4:
      manager->AddRule({true, FP_TCP, FD_OUT, proxy});
      manager->AddRule({false, FP_TCP, FD_ANY, any});
      break;
    default:
      break;
  }
}

RuleFilteringSocket::RuleFilteringSocket(EventSocket* socket, RuleFilteringHub* hub, int type)
    : SocketAdapter(socket), hub_(hub), type_(type) {}

int RuleFilteringSocket::Connect(const SocketAddress& address) {
  if (type_ == kStreamSocket && !hub_->Check(FP_TCP, FD_OUT, address)) {
    SetError(kSocketHostUnreachable);
    return -1;
  }
  return SocketAdapter::Connect(address);
}

EventSocket* RuleFilteringSocket::Accept(SocketAddress* from) {
  for (;;) {
    SocketAddress peer;
    EventSocket* accepted = SocketAdapter::Accept(&peer);
    if (!accepted) return nullptr;
    if (hub_->Check(FP_TCP, FD_IN, peer)) {
      if (from) *from = peer;
      return accepted;
    }
    accepted->Close();
    delete accepted;
  }
}

int RuleFilteringSocket::Send(const void* data, size_t length) {
  if (type_ == kDatagramSocket && !hub_->Check(FP_UDP, FD_OUT, GetRemoteAddress())) {
    return static_cast<int>(length);
  }
  return SocketAdapter::Send(data, length);
}

int RuleFilteringSocket::SendTo(const void* data, size_t length, const SocketAddress& address) {
  if (type_ == kDatagramSocket && !hub_->Check(FP_UDP, FD_OUT, address)) {
    return static_cast<int>(length);
  }
  return SocketAdapter::SendTo(data, length, address);
}

int RuleFilteringSocket::Recv(void* buffer, size_t size) {
  if (type_ == kDatagramSocket && !hub_->Check(FP_UDP, FD_IN, GetRemoteAddress())) {
    int n;
    do {
      n = SocketAdapter::Recv(buffer, size);
    } while (n > 0);
    return n;
  }
  return SocketAdapter::Recv(buffer, size);
}

int RuleFilteringSocket::RecvFrom(void* buffer, size_t size, SocketAddress* from) {
  for (;;) {
    SocketAddress sender;
    int n = SocketAdapter::RecvFrom(buffer, size, &sender);
    if (n < 0 || type_ != kDatagramSocket || hub_->Check(FP_UDP, FD_IN, sender)) {
      if (from) *from = sender;
      return n;
    }
  }
}

}  // namespace vexalo
