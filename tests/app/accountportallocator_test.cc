// The account's allocator on the session worker gets what the application learns on its own
// thread: hosts per account, relay information, flags, proxy and TURN services.
#include "app/accountportallocator.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>
#include <vector>

#include "app/settings.h"
#include "p2p/client/httpportallocator.h"
#include "p2p/client/sessionworker.h"
#include "support/sockettestutil.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {
namespace {

// Runs a function on the worker after what was posted there before, and returns once it ran.
class OnWorker : public MessageTarget {
 public:
  static void Run(LoopThread* thread, std::function<void()> f) {
    OnWorker call;
    call.f_ = std::move(f);
    std::future<void> ran = call.done_.get_future();
    thread->Post(&call);
    ran.wait();
  }
  void HandleMessage(QueuedMessage*) override {
    f_();
    done_.set_value();
  }

 private:
  std::function<void()> f_;
  std::promise<void> done_;
};

struct Seen {
  std::vector<std::string> relay_hosts;
  std::vector<std::string> stun_hosts;
  std::string token;
  uint32_t flags = 0;
  bool secure = false;
  uint16_t port = 0;
  size_t turn_servers = 0;
  int proxy_type = 0;
};

class AccountPortAllocatorTest : public ::testing::Test {
 protected:
  AccountPortAllocatorTest() {
    worker_.Start();
    profile_.stun_host = "192.0.2.7";  // a literal: no lookup needed
  }
  ~AccountPortAllocatorTest() override { worker_.Stop(); }

  Seen Look(AccountPortAllocator* feed) {
    Seen seen;
    OnWorker::Run(&worker_, [&] {
      auto* http = static_cast<HTTPPortAllocator*>(feed->allocator());
      seen.relay_hosts = http->relay_hosts();
      for (const SocketAddress& a : http->stun_hosts()) seen.stun_hosts.push_back(a.ToString());
      seen.token = http->relay_token();
      seen.flags = http->flags();
      seen.secure = http->secure();
      seen.port = http->port();
      seen.turn_servers = http->turn_servers().size();
      seen.proxy_type = http->proxy().type;
    });
    return seen;
  }

  SessionWorker worker_;
  ServiceProfile profile_ = ServiceProfile::Defaults();
};

TEST_F(AccountPortAllocatorTest, TheServicesHostsServeItsOwnAccountsOnly) {
  AccountPortAllocator feed(&worker_, profile_);
  feed.SetAccount(XmppAddress(std::string("alice@") + profile_.account_domain));
  Seen own = Look(&feed);
  EXPECT_EQ(own.relay_hosts, std::vector<std::string>{profile_.relay_host});
  EXPECT_EQ(own.stun_hosts, std::vector<std::string>{"192.0.2.7:3478"});
  EXPECT_EQ(own.port, 80);
  EXPECT_FALSE(own.secure);

  // Another server's account: the built-in relay host stays out, the STUN host the profile
  // points elsewhere is kept.
  feed.SetAccount(XmppAddress("bob@example.org"));
  Seen other = Look(&feed);
  EXPECT_TRUE(other.relay_hosts.empty());
  EXPECT_EQ(other.stun_hosts, std::vector<std::string>{"192.0.2.7:3478"});

  ServiceProfile defaults = ServiceProfile::Defaults();
  AccountPortAllocator plain(&worker_, defaults);
  plain.SetAccount(XmppAddress("bob@example.org"));
  Seen none = Look(&plain);
  EXPECT_TRUE(none.relay_hosts.empty());
  EXPECT_TRUE(none.stun_hosts.empty());
}

TEST_F(AccountPortAllocatorTest, RelayInformationReplacesHostsAndTokenAndNamesAreLookedUp) {
  profile_.relay_scheme = "https";
  profile_.relay_port = 8443;
  AccountPortAllocator feed(&worker_, profile_);
  feed.SetAccount(XmppAddress("bob@example.org"));
  feed.ApplyRelayInfo("tok", {"r1.example", "r2.example"},
                      {SocketAddress("localhost", 3479, false)});
  ASSERT_TRUE(RunUntil([&] { return !Look(&feed).stun_hosts.empty(); }));
  Seen seen = Look(&feed);
  EXPECT_EQ(seen.relay_hosts, (std::vector<std::string>{"r1.example", "r2.example"}));
  EXPECT_EQ(seen.stun_hosts, std::vector<std::string>{"127.0.0.1:3479"});
  EXPECT_EQ(seen.token, "tok");
  EXPECT_TRUE(seen.secure);
  EXPECT_EQ(seen.port, 8443);

  // A later report without anything clears all three.
  feed.ApplyRelayInfo("", {}, {});
  seen = Look(&feed);
  EXPECT_TRUE(seen.relay_hosts.empty());
  EXPECT_TRUE(seen.stun_hosts.empty());
  EXPECT_TRUE(seen.token.empty());
}

TEST_F(AccountPortAllocatorTest, SettingsProxyAndTurnServersReachTheWorker) {
  AccountPortAllocator feed(&worker_, profile_);
  Settings settings;
  settings.disable_udp_port = true;
  settings.disable_tcp_port = true;
  feed.ApplySettings(settings);
  ProxySettings proxy;
  proxy.type = PROXY_HTTPS;
  proxy.address = SocketAddress("192.0.2.1", 3128, false);
  feed.SetProxy("Vexalo", proxy);
  feed.SetTurnServers({TurnServerEntry{SocketAddress("192.0.2.2", 3478, false), "u", "p"}});
  Seen seen = Look(&feed);
  EXPECT_EQ(seen.flags, PortAllocator::kDisableUdp | PortAllocator::kDisableTcp);
  EXPECT_EQ(seen.proxy_type, PROXY_HTTPS);
  EXPECT_EQ(seen.turn_servers, 1u);
  settings = Settings();
  settings.disable_relay_port = true;
  settings.disable_stun_port = true;
  EXPECT_EQ(AccountPortAllocator::FlagsFromSettings(settings),
            PortAllocator::kDisableRelay | PortAllocator::kDisableStun);
}

}  // namespace
}  // namespace vexalo
