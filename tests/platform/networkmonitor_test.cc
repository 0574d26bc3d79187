#include "platform/networkmonitor.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vexalo {
namespace {

// A GNetworkMonitor whose availability the test sets, with GIO's signal as the real ones emit it.
struct FakeMonitor {
  GObject parent;
  gboolean available;
};
struct FakeMonitorClass {
  GObjectClass parent_class;
};

enum { kPropAvailable = 1, kPropMetered, kPropConnectivity };

GType FakeMonitorType();

void FakeMonitorGetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  auto* fake = reinterpret_cast<FakeMonitor*>(object);
  switch (id) {
    case kPropAvailable:
      g_value_set_boolean(value, fake->available);
      break;
    case kPropMetered:
      g_value_set_boolean(value, FALSE);
      break;
    case kPropConnectivity:
      g_value_set_enum(value, fake->available ? G_NETWORK_CONNECTIVITY_FULL
                                              : G_NETWORK_CONNECTIVITY_LOCAL);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
  }
}

void FakeMonitorClassInit(gpointer klass, gpointer) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->get_property = FakeMonitorGetProperty;
  g_object_class_override_property(object_class, kPropAvailable, "network-available");
  g_object_class_override_property(object_class, kPropMetered, "network-metered");
  g_object_class_override_property(object_class, kPropConnectivity, "connectivity");
}

void FakeMonitorIfaceInit(gpointer, gpointer) {}

// GNetworkMonitor requires GInitable.
gboolean FakeInit(GInitable*, GCancellable*, GError**) { return TRUE; }
void FakeInitableIfaceInit(gpointer iface, gpointer) {
  static_cast<GInitableIface*>(iface)->init = FakeInit;
}

GType FakeMonitorType() {
  static GType type = [] {
    GTypeInfo info{};
    info.class_size = sizeof(FakeMonitorClass);
    info.class_init = FakeMonitorClassInit;
    info.instance_size = sizeof(FakeMonitor);
    GType t = g_type_register_static(G_TYPE_OBJECT, "VexaloFakeNetworkMonitor", &info,
                                     static_cast<GTypeFlags>(0));
    GInterfaceInfo initable{FakeInitableIfaceInit, nullptr, nullptr};
    g_type_add_interface_static(t, G_TYPE_INITABLE, &initable);
    GInterfaceInfo iface{FakeMonitorIfaceInit, nullptr, nullptr};
    g_type_add_interface_static(t, G_TYPE_NETWORK_MONITOR, &iface);
    return t;
  }();
  return type;
}

// Owns one fake; Report() changes the answer and emits "network-changed" as GIO does, also
// when nothing changed (GIO reports every route change that way).
class Fake {
 public:
  explicit Fake(bool available)
      : fake_(static_cast<FakeMonitor*>(g_object_new(FakeMonitorType(), nullptr))) {
    fake_->available = available;
  }
  ~Fake() { g_object_unref(fake_); }
  GNetworkMonitor* monitor() const { return G_NETWORK_MONITOR(fake_); }
  void Report(bool available) {
    fake_->available = available;
    g_signal_emit_by_name(fake_, "network-changed", static_cast<gboolean>(available));
  }

 private:
  FakeMonitor* fake_;
};

class Recorder : public SlotHost {
 public:
  explicit Recorder(NetworkMonitor* monitor) {
    monitor->NetworkChanged.Connect(this, [this](bool alive) { changes.push_back(alive); });
  }
  std::vector<bool> changes;
};

TEST(NetworkMonitorTest, ReportsOnlyChangesOfAvailability) {
  struct Case {
    const char* name;
    bool start;
    std::vector<bool> reports;  // what GIO says, one "network-changed" each
    std::vector<bool> changes;  // what we pass on
  };
  const Case cases[] = {
      {"route churn while up", true, {true, true, true}, {}},
      {"route churn while down", false, {false, false}, {}},
      {"goes down", true, {false}, {false}},
      {"comes back", false, {true}, {true}},
      {"flaps", true, {false, false, true, true, false}, {false, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fake fake(c.start);
    NetworkMonitor monitor(fake.monitor());
    Recorder recorder(&monitor);
    EXPECT_EQ(monitor.IsNetworkAlive(), c.start);
    for (bool report : c.reports) {
      fake.Report(report);
      EXPECT_EQ(monitor.IsNetworkAlive(), report);
    }
    EXPECT_EQ(recorder.changes, c.changes);
  }
}

TEST(NetworkMonitorTest, WithoutAnAnswerTheNetworkCountsAsAlive) {
  NetworkMonitor monitor(nullptr);
  EXPECT_TRUE(monitor.IsNetworkAlive());
}

TEST(NetworkMonitorTest, DestroyedMonitorHearsNoMore) {
  Fake fake(true);
  {
    NetworkMonitor monitor(fake.monitor());
    Recorder recorder(&monitor);
  }
  fake.Report(false);  // must not reach the destroyed monitor (ASan would tell)
  SUCCEED();
}

TEST(NetworkMonitorTest, ListenerMayDestroyTheMonitor) {
  Fake fake(true);
  auto monitor = std::make_unique<NetworkMonitor>(fake.monitor());
  SlotHost host;
  int calls = 0;
  monitor->NetworkChanged.Connect(&host, [&](bool) {
    ++calls;
    monitor.reset();
  });
  fake.Report(false);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(monitor, nullptr);
  fake.Report(true);
  EXPECT_EQ(calls, 1);
}

// GIO's own monitor answers, and ours does not take away the process-wide one it shares.
TEST(NetworkMonitorTest, SystemMonitorAnswers) {
  GNetworkMonitor* gio = g_network_monitor_get_default();
  for (int round = 0; round < 2; ++round) {
    NetworkMonitor monitor;
    EXPECT_EQ(monitor.IsNetworkAlive(), g_network_monitor_get_network_available(gio) != FALSE);
  }
  EXPECT_TRUE(G_IS_NETWORK_MONITOR(g_network_monitor_get_default()));
}

// Real route changes seen through GIO's netlink monitor, in a network namespace of our own
// (tests/scripts/in-netns.sh runs the program there; lo is down and no route exists at first).
void CountReport(GNetworkMonitor*, gboolean, gpointer count) { ++*static_cast<int*>(count); }

class NetnsNetworkMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!getenv("VEXALO_NETNS")) GTEST_SKIP() << "not in a private network namespace";
  }

  static bool Ip(const std::string& args) {
    gchar** argv = nullptr;
    const std::string command = "ip " + args;
    if (!g_shell_parse_argv(command.c_str(), nullptr, &argv, nullptr)) return false;
    gint status = -1;
    GError* error = nullptr;
    const gboolean ran = g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr,
                                      nullptr, nullptr, nullptr, &status, &error);
    g_strfreev(argv);
    if (!ran) {
      ADD_FAILURE() << command << ": " << error->message;
      g_error_free(error);
      return false;
    }
    return g_spawn_check_wait_status(status, nullptr);
  }

  // Runs the default main context until `done` or about five seconds have passed.
  static bool SpinUntil(const std::function<bool()>& done) {
    const gint64 deadline = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
    while (!done()) {
      if (g_get_monotonic_time() > deadline) return false;
      g_main_context_iteration(nullptr, FALSE);
      g_usleep(2000);
    }
    return true;
  }
};

TEST_F(NetnsNetworkMonitorTest, FollowsTheDefaultRoutes) {
  ASSERT_TRUE(Ip("link set lo up"));
  GNetworkMonitor* gio = g_network_monitor_get_default();
  ASSERT_STREQ(G_OBJECT_TYPE_NAME(gio), "GNetworkMonitorNetlink")
      << "GIO_USE_NETWORK_MONITOR=netlink not honoured";
  // Every route change GIO noticed, whether or not availability moved.
  int gio_reports = 0;
  const gulong handler =
      g_signal_connect(gio, "network-changed", G_CALLBACK(CountReport), &gio_reports);

  NetworkMonitor monitor;
  Recorder recorder(&monitor);
  EXPECT_FALSE(monitor.IsNetworkAlive());

  struct Step {
    const char* command;
    bool alive;
    std::vector<bool> changes;  // all changes reported so far
  };
  const Step steps[] = {
      {"route add 198.18.0.0/15 dev lo", false, {}},  // a route, but no way out
      {"route add default dev lo", true, {true}},
      {"-6 route add default dev lo", true, {true}},
      {"route del default dev lo", true, {true}},  // IPv6 still leads out
      {"-6 route del default dev lo", false, {true, false}},
      {"-6 route add default dev lo", true, {true, false, true}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.command);
    const int before = gio_reports;
    ASSERT_TRUE(Ip(step.command));
    ASSERT_TRUE(SpinUntil([&] { return gio_reports > before; })) << "GIO saw no change";
    EXPECT_EQ(monitor.IsNetworkAlive(), step.alive);
    EXPECT_EQ(recorder.changes, step.changes);
  }

  // As found, for a repeated run in the same namespace, with GIO's news of it delivered.
  int before = gio_reports;
  Ip("-6 route del default dev lo");
  EXPECT_TRUE(SpinUntil([&] { return gio_reports > before; }));
  before = gio_reports;
  Ip("route del 198.18.0.0/15 dev lo");
  EXPECT_TRUE(SpinUntil([&] { return gio_reports > before; }));
  g_signal_handler_disconnect(gio, handler);
}

}  // namespace
}  // namespace vexalo
