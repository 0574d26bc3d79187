#pragma once

#include <cstddef>
#include <vector>

#include "base/runtime/signal.h"
#include "p2p/client/portconfiguration.h"
#include "xmpp/server/externalservice.h"

namespace vexalo {

class AccountPortAllocator;
class AsyncResolver;
class SignalThread;
class XmppConnection;

// Feeds the TURN services that the user's own server announces into the account's allocator,
// which uses them when the service's relay is absent: discovers them on every new connection,
// looks up host names off the loop threads, and hands over the usable servers (again after
// every refresh of their credentials).
class TurnServiceFeed : public SlotHost {
 public:
  // `allocator` outlives this object.
  explicit TurnServiceFeed(AccountPortAllocator* allocator);
  ~TurnServiceFeed() override;
  TurnServiceFeed(const TurnServiceFeed&) = delete;
  TurnServiceFeed& operator=(const TurnServiceFeed&) = delete;

  // A new connection: the previous account's servers are dropped and the discovery starts as
  // a task of `connection`, which ends it when the connection goes.
  void Start(XmppConnection* connection);
  // A discovery answer.
  void OnServices(const std::vector<ExternalService>& services);

 private:
  void OnResolved(SignalThread* thread);
  void StopResolvers();
  void DeliverWhenResolved();

  AccountPortAllocator* allocator_;
  std::vector<TurnServerEntry> entries_;
  // One lookup per entry given by name (null when none), in entry order.
  std::vector<AsyncResolver*> resolvers_;
  size_t outstanding_ = 0;
};

}  // namespace vexalo
