#include "app/linux/phonewindow.h"

#include <gtest/gtest.h>

#include "app/phoneapp.h"
#include "app/settingsstore.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/logging.h"
#include "platform/autostartentry.h"
#include "platform/memorysecretstore.h"
#include "platform/registryfile.h"
#include "platform/runninginstance.h"
#include "support/testfiles.h"

namespace vexalo {
namespace {

class PhoneWindowTest : public ::testing::Test, public SlotHost {
 protected:
  PhoneWindowTest() {
    environment_.settings = &settings_;
    environment_.services = &services_;
    environment_.autostart_entry = &autostart_;
    environment_.queue = &queue_;
    environment_.loop = loop_;
  }
  ~PhoneWindowTest() override {
    g_main_loop_unref(loop_);
    ResetLogging();
  }

  // Runs due timers until `done` or the (generous) limit on messages.
  void RunUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 100 && !done(); ++i) {
      QueuedMessage msg;
      if (!queue_.Get(&msg, 5000)) break;
      queue_.Dispatch(&msg);
    }
  }

  TempDir dir_;
  RegistryFile file_{dir_ / "cfg/vexalo/settings.ini"};
  MemorySecretStore secrets_;
  SettingsStore settings_{&file_, "Software\\Ombrix\\Vexalo", &secrets_};
  StartupServices services_;
  AutostartEntry autostart_{dir_ / "autostart", "/opt/vexalo/bin/vexalo", "Vexalo"};
  EventQueue queue_;
  GMainLoop* loop_ = g_main_loop_new(nullptr, FALSE);
  PhoneWindow::Environment environment_;
};

TEST_F(PhoneWindowTest, OwnsPhoneAppAndStartsTheWindowTimersAtCreation) {
  PhoneWindow window(environment_, std::nullopt, {});
  ASSERT_NE(window.app(), nullptr);
  EXPECT_EQ(window.app()->window(), &window);
  EXPECT_EQ(queue_.Size(), 0u);

  ASSERT_TRUE(window.Create());
  for (uint32_t id : {2u, 3u, 6u, 8u, 9u}) EXPECT_TRUE(window.HasTimer(id)) << id;
  for (uint32_t id : {5u, 7u, 10u, 14u, 15u, 17u}) EXPECT_FALSE(window.HasTimer(id)) << id;
  EXPECT_EQ(queue_.Size(), 5u);

  window.Destroy();
  EXPECT_EQ(queue_.Size(), 0u);
  EXPECT_FALSE(window.HasTimer(3));
}

TEST_F(PhoneWindowTest, TimersRepeatUntilKilled) {
  PhoneWindow window(environment_, std::nullopt, {});
  int housekeeping = 0;
  window.SignalHousekeepingTick.Connect(this, [&] { ++housekeeping; });
  window.Create();
  RunUntil([&] { return housekeeping >= 2 && window.animation_frame() >= 1; });
  EXPECT_GE(housekeeping, 2);
  EXPECT_GE(window.animation_frame(), 1);

  window.KillTimer(PhoneWindow::kTimerHousekeeping);
  window.KillTimer(PhoneWindow::kTimerAnimation);
  EXPECT_EQ(queue_.Size(), 3u);
}

TEST_F(PhoneWindowTest, HandlesHandedOverRecords) {
  PhoneWindow window(environment_, std::nullopt, {});
  window.Create();
  int restored = 0;
  int log_changes = 0;
  window.SignalRestore.Connect(this, [&] { ++restored; });
  window.SignalLogOptionsChanged.Connect(this, [&] { ++log_changes; });

  EXPECT_TRUE(window.OnHandOver(kInstanceRestore, ""));
  EXPECT_EQ(restored, 1);
  EXPECT_TRUE(window.OnHandOver(kCopyDataLogOptions, "info debug tstamp"));
  EXPECT_EQ(LogDebugSeverity(), kInfo);
  EXPECT_TRUE(LogTimestampsOn());
  EXPECT_EQ(log_changes, 1);
  EXPECT_TRUE(window.OnHandOver(kCopyDataMailto, "mailto:a@b.c"));
  EXPECT_TRUE(window.OnHandOver(kInstancePing, ""));
  EXPECT_FALSE(window.OnHandOver(77, "x"));

  EXPECT_TRUE(window.OnHandOver(kInstanceClose, ""));
  EXPECT_FALSE(window.IsCreated());
  EXPECT_EQ(window.exit_code(), 0);
  EXPECT_EQ(queue_.Size(), 0u);
}

TEST_F(PhoneWindowTest, AutostartOptionRewritesTheAutostartEntryAtOnce) {
  PhoneWindow window(environment_, std::nullopt, {});
  window.Create();
  Settings s = settings_.Current();
  s.autostart = false;
  settings_.Save(s, kSettingsSourceUser);
  EXPECT_FALSE(g_file_test(autostart_.path().c_str(), G_FILE_TEST_EXISTS));

  s.autostart = true;
  settings_.Save(s, kSettingsSourceUser);
  const std::string entry = ReadFile(autostart_.path());
  EXPECT_NE(entry.find("Exec=\"/opt/vexalo/bin/vexalo\" /autostart"), std::string::npos) << entry;

  s.autostart = false;
  settings_.Save(s, kSettingsSourceUser);
  EXPECT_FALSE(g_file_test(autostart_.path().c_str(), G_FILE_TEST_EXISTS));
}

TEST(AutostartEntryTest, QuotesTheExecutablePathForTheExecKey) {
  EXPECT_EQ(QuoteDesktopExec("/usr/bin/vexalo"), "\"/usr/bin/vexalo\"");
  EXPECT_EQ(QuoteDesktopExec("/home/a b/$x`y\"z\\w%u"), "\"/home/a b/\\$x\\`y\\\"z\\\\w%%u\"");
  EXPECT_EQ(QuoteDesktopExec("/tmp/new\nline"), "");
  EXPECT_EQ(QuoteDesktopExec(""), "");
}

}  // namespace
}  // namespace vexalo
