#include "app/accountportallocator.h"

#include <optional>
#include <utility>

#include "app/settings.h"
#include "base/net/asyncresolver.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/logging.h"
#include "p2p/client/httpportallocator.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {
namespace {

constexpr uint16_t kDefaultStunPort = 3478;

}  // namespace

// What changes on the worker's allocator; unset fields stay as they are.
struct AccountPortAllocator::Change {
  std::optional<std::vector<SocketAddress>> stun_hosts;
  std::optional<std::vector<std::string>> relay_hosts;
  std::optional<std::string> relay_token;
  std::optional<uint32_t> flags;
  std::optional<std::pair<std::string, ProxySettings>> proxy;
  std::optional<std::vector<TurnServerEntry>> turn_servers;
};

AccountPortAllocator::AccountPortAllocator(EventQueue* worker, ServiceProfile profile,
                                           bool include_loopback)
    : worker_(worker),
      profile_(std::move(profile)),
      allocator_(std::make_unique<HTTPPortAllocator>(worker, std::vector<SocketAddress>(),
                                                     std::vector<std::string>(),
                                                     include_loopback)) {
  // Nothing reads the allocator before the first session is made on the worker.
  allocator_->SetRelaySessionEndpoint(profile_.relay_secure(), profile_.relay_port);
  allocator_->SetSessionType(profile_.PhoneNamespace());
}

AccountPortAllocator::~AccountPortAllocator() { StopResolver(); }

PortAllocator* AccountPortAllocator::allocator() { return allocator_.get(); }

uint32_t AccountPortAllocator::FlagsFromSettings(const Settings& settings) {
  uint32_t flags = 0;
  if (settings.disable_udp_port) flags |= PortAllocator::kDisableUdp;
  if (settings.disable_stun_port) flags |= PortAllocator::kDisableStun;
  if (settings.disable_relay_port) flags |= PortAllocator::kDisableRelay;
  if (settings.disable_tcp_port) flags |= PortAllocator::kDisableTcp;
  return flags;
}

void AccountPortAllocator::SetAccount(const XmppAddress& account) {
  const ServiceProfile defaults = ServiceProfile::Defaults();
  const bool own = profile_.IsServiceDomain(account.DomainPart());
  // The service's hosts know nothing of other servers' users; asking them would only tell a
  // third party about the user's calls.
  const bool use_stun = !profile_.stun_host.empty() && (own || profile_.stun_host != defaults.stun_host);
  const bool use_relay =
      !profile_.relay_host.empty() && (own || profile_.relay_host != defaults.relay_host);
  auto change = std::make_unique<Change>();
  change->relay_hosts = use_relay ? std::vector<std::string>{profile_.relay_host}
                                  : std::vector<std::string>();
  change->relay_token = std::string();
  change->stun_hosts = std::vector<SocketAddress>();
  change->turn_servers = std::vector<TurnServerEntry>();
  Post(std::move(change));
  StopResolver();
  if (use_stun) ResolveStunHost(SocketAddress(profile_.stun_host, kDefaultStunPort, false));
}

void AccountPortAllocator::SetProxy(const std::string& user_agent, const ProxySettings& proxy) {
  auto change = std::make_unique<Change>();
  change->proxy = std::make_pair(user_agent, proxy);
  Post(std::move(change));
}

void AccountPortAllocator::ApplySettings(const Settings& settings) {
  auto change = std::make_unique<Change>();
  change->flags = FlagsFromSettings(settings);
  Post(std::move(change));
}

void AccountPortAllocator::ApplyRelayInfo(const std::string& token,
                                          const std::vector<std::string>& relay_hosts,
                                          const std::vector<SocketAddress>& stun_servers) {
  LOG(kInfo) << "AccountPortAllocator: relay information with " << relay_hosts.size()
             << " relay hosts and " << stun_servers.size() << " STUN servers";
  auto change = std::make_unique<Change>();
  change->relay_token = token;
  change->relay_hosts = relay_hosts;
  change->stun_hosts = std::vector<SocketAddress>();
  Post(std::move(change));
  StopResolver();
  // Only the first STUN server is ever used.
  if (!stun_servers.empty()) ResolveStunHost(stun_servers.front());
}

void AccountPortAllocator::SetTurnServers(std::vector<TurnServerEntry> servers) {
  auto change = std::make_unique<Change>();
  change->turn_servers = std::move(servers);
  Post(std::move(change));
}

void AccountPortAllocator::Post(std::unique_ptr<Change> change) {
  worker_->Post(this, 0, new MessageData<std::unique_ptr<Change>>(std::move(change)));
}

void AccountPortAllocator::HandleMessage(QueuedMessage* msg) {
  auto data = msg->TakePayload<MessageData<std::unique_ptr<Change>>>();
  Change& change = *data->value();
  if (change.stun_hosts) allocator_->SetStunHosts(std::move(*change.stun_hosts));
  if (change.relay_hosts) allocator_->SetRelayHosts(std::move(*change.relay_hosts));
  if (change.relay_token) allocator_->SetRelayToken(std::move(*change.relay_token));
  if (change.flags) allocator_->SetFlags(*change.flags);
  if (change.proxy) allocator_->SetProxy(change.proxy->first, change.proxy->second);
  if (change.turn_servers) allocator_->SetTurnServers(std::move(*change.turn_servers));
}

void AccountPortAllocator::ResolveStunHost(const SocketAddress& host) {
  if (!host.IsUnresolved()) {
    auto change = std::make_unique<Change>();
    change->stun_hosts = std::vector<SocketAddress>{host};
    Post(std::move(change));
    return;
  }
  resolving_port_ = host.port();
  resolver_ = new AsyncResolver(host.hostname());
  resolver_->WorkDone.Connect(this, &AccountPortAllocator::OnStunResolved);
  resolver_->Start();
}

void AccountPortAllocator::OnStunResolved(SignalThread* thread) {
  if (thread != resolver_) return;
  const uint32_t ip = resolver_->ip();
  const std::string name = resolver_->hostname();
  StopResolver();
  if (ip == 0) {
    // Without an address there is no STUN port; the other ports still come.
    LOG(kWarning) << "AccountPortAllocator: STUN host " << name << " not found";
    return;
  }
  auto change = std::make_unique<Change>();
  change->stun_hosts = std::vector<SocketAddress>{SocketAddress(ip, resolving_port_)};
  Post(std::move(change));
}

void AccountPortAllocator::StopResolver() {
  if (resolver_ == nullptr) return;
  resolver_->WorkDone.Disconnect(this);
  resolver_->Destroy();
  resolver_ = nullptr;
}

}  // namespace vexalo
