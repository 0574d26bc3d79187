#pragma once

#include <mutex>
#include <vector>

#include "base/net/socketadapter.h"
#include "base/net/sockethub.h"

namespace vexalo {

enum FilterProtocol { FP_UDP = 0, FP_TCP = 1, FP_ANY = 2 };
enum FilterDirection { FD_IN = 0, FD_OUT = 1, FD_ANY = 2 };

struct FilterRule {
  bool allow;
  FilterProtocol protocol;
  FilterDirection direction;
  SocketAddress address;  // ip 0: any ip; port 0: any port
};

class RuleFilteringManager;

// Network simulation: a hub that wraps another and puts every socket it makes behind ordered
// allow/deny rules. The first matching rule decides; with none matching, traffic passes.
class RuleFilteringHub : public SocketHub {
 public:
  // Takes ownership of `hub` when `owns_hub` is true.
  RuleFilteringHub(SocketHub* hub, bool owns_hub, RuleFilteringManager* manager = nullptr);
  ~RuleFilteringHub() override;

  EventSocket* CreateSocket(int type) override;
  EventSocket* CreateEventSocket(int type) override;
  bool Wait(int ms, bool process_io) override { return hub_->Wait(ms, process_io); }
  void WakeUp() override { hub_->WakeUp(); }

  void AddRule(const FilterRule& rule);
  void ClearRules();
  bool Check(FilterProtocol protocol, FilterDirection direction, const SocketAddress& address);

  SocketHub* wrapped() const { return hub_; }

 private:
  SocketHub* hub_;
  bool owns_hub_;
  RuleFilteringManager* manager_;
  std::mutex lock_;
  std::vector<FilterRule> rules_;
};

// Holds every filtering hub so rules can be set on all of them at once.
class RuleFilteringManager {
 public:
  void AddHub(RuleFilteringHub* hub);
  void RemoveHub(RuleFilteringHub* hub);
  void AddRule(const FilterRule& rule);
  void ClearRules();

 private:
  std::mutex lock_;
  std::vector<RuleFilteringHub*> hubs_;
};

// The application's network simulation modes: 1 no UDP; 2 no UDP and no inbound TCP; 3 no UDP,
// outbound TCP only to ports 80 and 443; 4 no UDP, outbound TCP only to `proxy`. Any other
// mode clears the rules.
void ApplySimulationMode(RuleFilteringManager* manager, int mode, const SocketAddress& proxy);

// The socket behind the rules.
class RuleFilteringSocket : public SocketAdapter {
 public:
  RuleFilteringSocket(EventSocket* socket, RuleFilteringHub* hub, int type);

  int Connect(const SocketAddress& address) override;
  EventSocket* Accept(SocketAddress* from) override;
  int Send(const void* data, size_t length) override;
  int SendTo(const void* data, size_t length, const SocketAddress& address) override;
  int Recv(void* buffer, size_t size) override;
  int RecvFrom(void* buffer, size_t size, SocketAddress* from) override;

 private:
  RuleFilteringHub* hub_;
  int type_;
};

}  // namespace vexalo
