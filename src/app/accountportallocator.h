#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/serviceprofile.h"
#include "base/net/socketaddress.h"
#include "base/proxy/proxysettings.h"
#include "base/runtime/queuedmessage.h"
#include "base/runtime/signal.h"
#include "p2p/client/portconfiguration.h"

namespace vexalo {

class AsyncResolver;
class EventQueue;
class HTTPPortAllocator;
class PortAllocator;
class SignalThread;
class XmppAddress;
struct Settings;

// The signed-in account's port allocator. The allocator itself lives on the session worker,
// where its sessions read it; this object takes what the application learns on the signalling
// thread (the account, the proxy, the settings' port flags, the server's relay information,
// TURN services) and hands it over to the worker, resolving STUN host names first so the
// worker never waits on DNS.
class AccountPortAllocator : public MessageTarget, public SlotHost {
 public:
  // `worker`: the session worker; outlives this object. `include_loopback`: tests only.
  AccountPortAllocator(EventQueue* worker, ServiceProfile profile, bool include_loopback = false);
  ~AccountPortAllocator() override;
  AccountPortAllocator(const AccountPortAllocator&) = delete;
  AccountPortAllocator& operator=(const AccountPortAllocator&) = delete;

  // For the session stack, used on the worker.
  PortAllocator* allocator();

  // A new sign-in: the service's own STUN and relay hosts serve its own accounts, and
  // other servers' accounts only when the profile names hosts of their own.
  void SetAccount(const XmppAddress& account);
  void SetProxy(const std::string& user_agent, const ProxySettings& proxy);
  void ApplySettings(const Settings& settings);
  // A relayinfo answer or push: replaces token, relay hosts and STUN hosts, also with empty
  // ones.
  void ApplyRelayInfo(const std::string& token, const std::vector<std::string>& relay_hosts,
                      const std::vector<SocketAddress>& stun_servers);
  // TURN services announced by the user's server; used when the service's relay is absent.
  void SetTurnServers(std::vector<TurnServerEntry> servers);

  static uint32_t FlagsFromSettings(const Settings& settings);

  void HandleMessage(QueuedMessage* msg) override;

 private:
  struct Change;
  void Post(std::unique_ptr<Change> change);
  // STUN hosts given by name are looked up before they reach the allocator.
  void ResolveStunHost(const SocketAddress& host);
  void OnStunResolved(SignalThread* thread);
  void StopResolver();

  EventQueue* worker_;
  const ServiceProfile profile_;
  // Owned here, read and written on the worker only.
  std::unique_ptr<HTTPPortAllocator> allocator_;
  AsyncResolver* resolver_ = nullptr;
  uint16_t resolving_port_ = 0;
};

}  // namespace vexalo
