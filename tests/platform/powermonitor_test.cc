#include "platform/powermonitor.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "base/runtime/logging.h"
#include "support/logcapture.h"
#include "support/testfiles.h"

namespace vexalo {
namespace {

// Runs the thread-default main context until `done` or about five seconds have passed.
bool SpinUntil(const std::function<bool()>& done) {
  const gint64 deadline = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
  while (!done()) {
    if (g_get_monotonic_time() > deadline) return false;
    if (!g_main_context_iteration(g_main_context_get_thread_default(), FALSE)) g_usleep(1000);
  }
  return true;
}

// Runs the thread-default main context for `ms` milliseconds: for checking that nothing happens.
void SpinFor(int ms) {
  const gint64 end = g_get_monotonic_time() + ms * 1000;
  SpinUntil([end] { return g_get_monotonic_time() >= end; });
}

TEST(PowerMonitorTest, WithoutABusStaysInert) {
  for (const char* address :
       {"unix:path=/nonexistent/vexalo-test-bus", "tcp:host=127.0.0.1,port=1", "no address"}) {
    SCOPED_TRACE(address);
    LogCapture log;
    PowerMonitor monitor(address);
    ASSERT_TRUE(SpinUntil([&] { return !log.Starting("PowerMonitor: no system bus").empty(); }));
    SpinFor(100);
    EXPECT_EQ(log.Starting("PowerMonitor:").size(), 1u);
    EXPECT_FALSE(monitor.IsConnected());
    EXPECT_FALSE(monitor.HoldsSleepLock());
  }
}

// A D-Bus daemon of our own, on a socket in a temporary folder, stopped by its pid.
class PrivateBus {
 public:
  PrivateBus() {
    const std::string listen = "--address=unix:dir=" + dir_.path();
    const char* argv[] = {"dbus-daemon",  "--session",         "--nofork", "--nopidfile",
                          listen.c_str(), "--print-address=1", nullptr};
    GError* error = nullptr;
    // Silenced: as root it complains that it may not raise its file limit.
    daemon_ = g_subprocess_newv(argv,
                                static_cast<GSubprocessFlags>(G_SUBPROCESS_FLAGS_STDOUT_PIPE |
                                                              G_SUBPROCESS_FLAGS_STDERR_SILENCE),
                                &error);
    if (!daemon_) {
      error_ = error->message;
      g_error_free(error);
      return;
    }
    GDataInputStream* out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_));
    gchar* line = g_data_input_stream_read_line(out, nullptr, nullptr, &error);
    if (line) {
      address_ = line;
      g_free(line);
    } else {
      error_ = error ? error->message : "dbus-daemon printed no address";
      if (error) g_error_free(error);
    }
    g_object_unref(out);
  }
  ~PrivateBus() {
    Stop();
    if (daemon_) g_object_unref(daemon_);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  const std::string& address() const { return address_; }
  const std::string& error() const { return error_; }

  void Stop() {
    if (!daemon_ || stopped_) return;
    stopped_ = true;
    g_subprocess_send_signal(daemon_, SIGTERM);
    g_subprocess_wait(daemon_, nullptr, nullptr);
  }

 private:
  TempDir dir_;
  GSubprocess* daemon_ = nullptr;
  bool stopped_ = false;
  std::string address_;
  std::string error_;
};

GDBusConnection* ConnectTo(const std::string& address) {
  GError* error = nullptr;
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (!connection) {
    ADD_FAILURE() << "cannot connect to " << address << ": " << error->message;
    g_error_free(error);
  }
  return connection;
}

// Broadcast, or sent to `destination` only (a directed signal passes the bus's match rules).
void EmitPrepareForSleep(GDBusConnection* connection, bool start,
                         const char* destination = nullptr) {
  GError* error = nullptr;
  if (!g_dbus_connection_emit_signal(connection, destination, "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "PrepareForSleep",
                                     g_variant_new("(b)", start), &error)) {
    ADD_FAILURE() << error->message;
    g_error_free(error);
  }
  g_dbus_connection_flush_sync(connection, nullptr, nullptr);
}

constexpr char kManagerXml[] =
    "<node><interface name='org.freedesktop.login1.Manager'>"
    "<method name='Inhibit'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='h' direction='out'/></method>"
    "<signal name='PrepareForSleep'><arg type='b'/></signal>"
    "</interface></node>";

// The part of logind the monitor talks to: Inhibit hands out the write end of a pipe, whose read
// end tells the test whether the lock is still held; PrepareForSleep is sent on request.
class FakeLogind {
 public:
  enum class Mode { kGrant, kRefuse, kDefer };

  explicit FakeLogind(const std::string& address) : connection_(ConnectTo(address)) {
    if (!connection_) return;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kManagerXml, nullptr);
    static const GDBusInterfaceVTable vtable = {OnMethodCall, nullptr, nullptr, {}};
    registration_ =
        g_dbus_connection_register_object(connection_, "/org/freedesktop/login1",
                                          node->interfaces[0], &vtable, this, nullptr, nullptr);
    g_dbus_node_info_unref(node);
  }
  ~FakeLogind() {
    if (deferred_) {
      g_dbus_method_invocation_return_dbus_error(deferred_, "org.freedesktop.DBus.Error.Failed",
                                                 "test over");
    }
    for (int fd : lock_ends_) close(fd);
    if (!connection_) return;
    g_dbus_connection_unregister_object(connection_, registration_);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
  }
  FakeLogind(const FakeLogind&) = delete;
  FakeLogind& operator=(const FakeLogind&) = delete;

  void set_mode(Mode mode) { mode_ = mode; }

  // Takes or gives up the well-known name, synchronously, as logind starting or stopping.
  void Own(bool own) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        own ? "RequestName" : "ReleaseName",
        own ? g_variant_new("(su)", "org.freedesktop.login1", 4u)  // do not queue
            : g_variant_new("(s)", "org.freedesktop.login1"),
        nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!reply) {
      ADD_FAILURE() << error->message;
      g_error_free(error);
      return;
    }
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    EXPECT_EQ(result, 1u) << (own ? "RequestName" : "ReleaseName");
    g_variant_unref(reply);
  }

  void Emit(bool start) { EmitPrepareForSleep(connection_, start); }

  // Grants a deferred Inhibit call now.
  void GrantDeferred() {
    ASSERT_NE(deferred_, nullptr);
    GDBusMethodInvocation* invocation = deferred_;
    deferred_ = nullptr;
    Grant(invocation);
  }

  const std::vector<std::array<std::string, 4>>& inhibits() const { return inhibits_; }
  bool has_deferred() const { return deferred_ != nullptr; }
  // The unique bus name of the last one that asked for a lock.
  const std::string& caller() const { return caller_; }
  size_t locks() const { return lock_ends_.size(); }

  // Whether every holder of lock `i` has closed it.
  bool Released(size_t i) const {
    struct pollfd p = {lock_ends_.at(i), POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
  }

 private:
  static void OnMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                           const gchar* method, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer self) {
    auto* fake = static_cast<FakeLogind*>(self);
    if (g_strcmp0(method, "Inhibit") != 0) {
      g_dbus_method_invocation_return_dbus_error(
          invocation, "org.freedesktop.DBus.Error.UnknownMethod", method);
      return;
    }
    const gchar *what, *who, *why, *mode;
    g_variant_get(parameters, "(&s&s&s&s)", &what, &who, &why, &mode);
    fake->inhibits_.push_back({what, who, why, mode});
    fake->caller_ = g_dbus_method_invocation_get_sender(invocation);
    switch (fake->mode_) {
      case Mode::kGrant:
        fake->Grant(invocation);
        break;
      case Mode::kRefuse:
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.DBus.Error.AccessDenied", "Permission denied");
        break;
      case Mode::kDefer:
        fake->deferred_ = invocation;
        break;
    }
  }

  void Grant(GDBusMethodInvocation* invocation) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    lock_ends_.push_back(ends[0]);
    GUnixFDList* fds = g_unix_fd_list_new();
    const gint index = g_unix_fd_list_append(fds, ends[1], nullptr);  // a duplicate
    close(ends[1]);
    g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", index),
                                                            fds);
    g_object_unref(fds);
  }

  GDBusConnection* connection_;
  guint registration_ = 0;
  Mode mode_ = Mode::kGrant;
  GDBusMethodInvocation* deferred_ = nullptr;
  std::vector<std::array<std::string, 4>> inhibits_;
  std::vector<int> lock_ends_;
  std::string caller_;
};

class Counter : public SlotHost {
 public:
  explicit Counter(PowerMonitor* monitor) {
    monitor->Suspending.Connect(this, [this] { ++suspending; });
    monitor->Resumed.Connect(this, [this] { ++resumed; });
  }
  int suspending = 0;
  int resumed = 0;
};

const std::regex kPowerLine(
    R"(PowerBroadcast: (PBT_APMQUERYSUSPEND|PBT_APMRESUMESUSPEND) : )"
    R"([A-Z][a-z]{2} [A-Z][a-z]{2} [ 123][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4})");

// Against a D-Bus daemon started here, with logind played by the test.
class BusPowerMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!getenv("VEXALO_PRIVATE_BUS")) GTEST_SKIP() << "private bus tests not asked for";
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    bus_ = std::make_unique<PrivateBus>();
    ASSERT_FALSE(bus_->address().empty()) << "dbus-daemon: " << bus_->error();
    logind_ = std::make_unique<FakeLogind>(bus_->address());
  }
  void TearDown() override {
    if (!context_) return;
    monitor_.reset();
    logind_.reset();
    bus_.reset();
    // Let cancelled calls and closing connections finish on our context.
    SpinFor(50);
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }

  void StartMonitor() { monitor_ = std::make_unique<PowerMonitor>(bus_->address()); }
  bool Holding(size_t locks) {
    return SpinUntil([&] {
      return logind_->locks() == locks && !logind_->Released(locks - 1) &&
             monitor_->HoldsSleepLock();
    });
  }

  LogCapture log_;
  GMainContext* context_ = nullptr;
  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<FakeLogind> logind_;
  std::unique_ptr<PowerMonitor> monitor_;
};

TEST_F(BusPowerMonitorTest, HoldsTheLockUntilTheSuspendingListenersRan) {
  logind_->Own(true);
  StartMonitor();
  Counter counter(monitor_.get());
  ASSERT_TRUE(Holding(1));
  const std::array<std::string, 4> request = {"sleep", "Vexalo", "sign out before sleeping",
                                              "delay"};
  EXPECT_EQ(logind_->inhibits().at(0), request);

  SlotHost host;
  bool held_while_signing_out = false;
  monitor_->Suspending.Connect(&host, [&] { held_while_signing_out = !logind_->Released(0); });
  logind_->Emit(true);
  ASSERT_TRUE(SpinUntil([&] { return logind_->Released(0); }));
  EXPECT_TRUE(held_while_signing_out);
  EXPECT_EQ(counter.suspending, 1);
  EXPECT_TRUE(monitor_->IsSuspended());
  EXPECT_FALSE(monitor_->HoldsSleepLock());

  // Told twice: the listeners sign out once.
  logind_->Emit(true);
  ASSERT_TRUE(SpinUntil([&] { return log_.Starting("PowerBroadcast:").size() == 2; }));
  EXPECT_EQ(counter.suspending, 1);

  logind_->Emit(false);
  ASSERT_TRUE(Holding(2)) << "no new lock after resume";
  EXPECT_EQ(counter.resumed, 1);
  EXPECT_FALSE(monitor_->IsSuspended());
  EXPECT_EQ(logind_->inhibits().at(1), request);

  const std::vector<std::string> lines = log_.Starting("PowerBroadcast:");
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& line : lines) EXPECT_TRUE(std::regex_match(line, kPowerLine)) << line;
  EXPECT_NE(lines[0].find(": PBT_APMQUERYSUSPEND : "), std::string::npos);
  EXPECT_NE(lines[1].find(": PBT_APMQUERYSUSPEND : "), std::string::npos);
  EXPECT_NE(lines[2].find(": PBT_APMRESUMESUSPEND : "), std::string::npos);
}

TEST_F(BusPowerMonitorTest, IgnoresSleepSignalsFromOthers) {
  logind_->Own(true);
  StartMonitor();
  Counter counter(monitor_.get());
  ASSERT_TRUE(Holding(1));

  // Another client on the bus sends logind's signal, to all and to the monitor alone; then
  // logind itself sends its resume.
  GDBusConnection* impostor = ConnectTo(bus_->address());
  ASSERT_NE(impostor, nullptr);
  EmitPrepareForSleep(impostor, true);
  EmitPrepareForSleep(impostor, true, logind_->caller().c_str());
  // A round trip through the bus: it has routed the impostor's signal before logind's.
  g_variant_unref(g_dbus_connection_call_sync(
      impostor, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
      nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
  logind_->Emit(false);
  ASSERT_TRUE(SpinUntil([&] { return !log_.Starting("PowerBroadcast:").empty(); }));
  EXPECT_EQ(log_.Starting("PowerBroadcast:").size(), 1u);
  EXPECT_EQ(counter.suspending, 0);
  EXPECT_EQ(counter.resumed, 0);
  EXPECT_FALSE(logind_->Released(0));
  g_dbus_connection_close_sync(impostor, nullptr, nullptr);
  g_object_unref(impostor);
}

TEST_F(BusPowerMonitorTest, FollowsLogindComingAndGoing) {
  StartMonitor();
  Counter counter(monitor_.get());
  ASSERT_TRUE(SpinUntil([&] { return monitor_->IsConnected(); }));
  SpinFor(50);
  EXPECT_EQ(logind_->inhibits().size(), 0u);

  logind_->Own(true);
  ASSERT_TRUE(Holding(1)) << "no lock when logind appeared";
  logind_->Own(false);
  ASSERT_TRUE(SpinUntil([&] { return !monitor_->HoldsSleepLock(); }));
  logind_->Own(true);
  ASSERT_TRUE(Holding(2)) << "no lock from the new logind";

  // Restarted while we were told to sleep: the new one will never say that we woke up.
  logind_->Emit(true);
  ASSERT_TRUE(SpinUntil([&] { return counter.suspending == 1 && logind_->Released(1); }));
  logind_->Own(false);
  logind_->Own(true);
  ASSERT_TRUE(SpinUntil([&] { return counter.resumed == 1; }));
  ASSERT_TRUE(Holding(3));
  EXPECT_FALSE(monitor_->IsSuspended());
}

TEST_F(BusPowerMonitorTest, WithoutALockStillSignalsAndComplainsOnce) {
  logind_->set_mode(FakeLogind::Mode::kRefuse);
  logind_->Own(true);
  StartMonitor();
  Counter counter(monitor_.get());
  ASSERT_TRUE(
      SpinUntil([&] { return !log_.Starting("PowerMonitor: no sleep delay lock").empty(); }));
  for (int round = 1; round <= 2; ++round) {
    logind_->Emit(true);
    logind_->Emit(false);
    ASSERT_TRUE(SpinUntil([&] { return counter.resumed == round; }));
    ASSERT_TRUE(SpinUntil([&] { return logind_->inhibits().size() == 1u + round; }));
  }
  SpinFor(50);
  EXPECT_EQ(counter.suspending, 2);
  EXPECT_EQ(log_.Starting("PowerMonitor: no sleep delay lock").size(), 1u);
  EXPECT_FALSE(monitor_->HoldsSleepLock());
}

TEST_F(BusPowerMonitorTest, SuspendingListenerMayDestroyTheMonitor) {
  logind_->Own(true);
  StartMonitor();
  ASSERT_TRUE(Holding(1));
  SlotHost host;
  monitor_->Suspending.Connect(&host, [this] { monitor_.reset(); });
  logind_->Emit(true);
  ASSERT_TRUE(SpinUntil([&] { return monitor_ == nullptr; }));
  EXPECT_TRUE(SpinUntil([&] { return logind_->Released(0); }));
}

TEST_F(BusPowerMonitorTest, DestroyedWhileWaitingForTheBus) {
  logind_->Own(true);
  StartMonitor();
  monitor_.reset();
  SpinFor(200);
  EXPECT_EQ(logind_->inhibits().size(), 0u);
  EXPECT_TRUE(log_.Starting("PowerMonitor:").empty());
}

TEST_F(BusPowerMonitorTest, DestroyedWhileWaitingForTheLock) {
  logind_->set_mode(FakeLogind::Mode::kDefer);
  logind_->Own(true);
  StartMonitor();
  ASSERT_TRUE(SpinUntil([&] { return logind_->has_deferred(); }));
  monitor_.reset();
  logind_->GrantDeferred();
  // The late lock reaches nobody and is not kept open.
  EXPECT_TRUE(SpinUntil([&] { return logind_->Released(0); }));
}

TEST_F(BusPowerMonitorTest, LockArrivingAfterSuspendIsLetGo) {
  logind_->set_mode(FakeLogind::Mode::kDefer);
  logind_->Own(true);
  StartMonitor();
  Counter counter(monitor_.get());
  ASSERT_TRUE(SpinUntil([&] { return logind_->has_deferred(); }));
  logind_->Emit(true);
  ASSERT_TRUE(SpinUntil([&] { return counter.suspending == 1; }));
  logind_->GrantDeferred();
  EXPECT_TRUE(SpinUntil([&] { return logind_->Released(0); }));
  EXPECT_FALSE(monitor_->HoldsSleepLock());
}

TEST_F(BusPowerMonitorTest, LosingTheBusLeavesItInert) {
  logind_->Own(true);
  StartMonitor();
  Counter counter(monitor_.get());
  ASSERT_TRUE(Holding(1));
  bus_->Stop();
  ASSERT_TRUE(SpinUntil([&] { return !monitor_->IsConnected(); }));
  EXPECT_FALSE(monitor_->HoldsSleepLock());
  SpinFor(200);
  EXPECT_EQ(log_.Starting("PowerMonitor: lost the system bus").size(), 1u);
  EXPECT_EQ(counter.suspending + counter.resumed, 0);
}

}  // namespace
}  // namespace vexalo
