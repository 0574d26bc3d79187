#include "app/turnservicefeed.h"

#include "app/accountportallocator.h"
#include "base/net/asyncresolver.h"
#include "base/runtime/logging.h"
#include "p2p/client/turnserverlist.h"
#include "xmpp/server/externalservicestask.h"
#include "xmpp/stream/xmppconnection.h"

namespace vexalo {

TurnServiceFeed::TurnServiceFeed(AccountPortAllocator* allocator) : allocator_(allocator) {}

TurnServiceFeed::~TurnServiceFeed() { StopResolvers(); }

void TurnServiceFeed::Start(XmppConnection* connection) {
  StopResolvers();
  entries_.clear();
  allocator_->SetTurnServers({});
  auto* task = new ExternalServicesTask(connection);
  task->SignalServices.Connect(this, &TurnServiceFeed::OnServices);
  task->Start();
  task->Request();
}

void TurnServiceFeed::OnServices(const std::vector<ExternalService>& services) {
  StopResolvers();
  entries_ = TurnServerList::FromExternalServices(services);
  resolvers_.assign(entries_.size(), nullptr);
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (!entries_[i].address.IsUnresolved()) continue;
    resolvers_[i] = new AsyncResolver(entries_[i].address.hostname());
    resolvers_[i]->WorkDone.Connect(this, &TurnServiceFeed::OnResolved);
    ++outstanding_;
    resolvers_[i]->Start();
  }
  DeliverWhenResolved();
}

void TurnServiceFeed::OnResolved(SignalThread* thread) {
  for (size_t i = 0; i < resolvers_.size(); ++i) {
    if (resolvers_[i] != thread) continue;
    const uint32_t ip = resolvers_[i]->ip();
    if (ip == 0) {
      LOG(kWarning) << "TurnServiceFeed: TURN host " << resolvers_[i]->hostname() << " not found";
    }
    entries_[i].address.SetResolvedIP(ip);
    resolvers_[i]->WorkDone.Disconnect(this);
    resolvers_[i]->Destroy();
    resolvers_[i] = nullptr;
    --outstanding_;
  }
  DeliverWhenResolved();
}

void TurnServiceFeed::DeliverWhenResolved() {
  if (outstanding_ != 0) return;
  std::vector<TurnServerEntry> usable;
  for (const TurnServerEntry& entry : entries_) {
    if (entry.address.ip() != 0) usable.push_back(entry);
  }
  LOG(kInfo) << "TurnServiceFeed: " << usable.size() << " TURN server(s) from the user's server";
  allocator_->SetTurnServers(std::move(usable));
}

void TurnServiceFeed::StopResolvers() {
  for (AsyncResolver*& resolver : resolvers_) {
    if (resolver == nullptr) continue;
    resolver->WorkDone.Disconnect(this);
    resolver->Destroy();
    resolver = nullptr;
  }
  resolvers_.clear();
  outstanding_ = 0;
}

}  // namespace vexalo
