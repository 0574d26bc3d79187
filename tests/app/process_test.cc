// The vexalo executable run as real processes, each test in a profile of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/registryfile.h"
#include "platform/secretservicestore.h"
#include "support/vexaloprocess.h"

namespace vexalo {
namespace {

constexpr char kRoot[] = "Software\\Ombrix\\Vexalo";
constexpr char kOptions[] = "Software\\Ombrix\\Vexalo\\Options";
constexpr char kProcess[] = "Software\\Ombrix\\Vexalo\\Process";
constexpr char kStaleWarning[] = "did not end in order";

std::optional<RegValue> ProcessPid(const Profile& profile) {
  return profile.Registry().QueryValue(kProcess, "pid");
}

RegValue PidOf(const VexaloProcess& process) {
  return RegValue::Dword(static_cast<uint32_t>(process.pid()));
}

bool Exists(const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_EXISTS); }

TEST(VexaloProcessTest, CommandLineErrorsAndInformation) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* out;
    const char* err;
  };
  const Case cases[] = {
      {{"--version"}, 0, "Vexalo 0.1.0", ""},
      {{"/version"}, 0, "Vexalo 0.1.0", ""},
      {{"--help"}, 0, "--factoryreset", ""},
      {{"/bogus", "--autostart", "stray"},
       2,
       "",
       "unknown arguments '/bogus', 'stray' (see --help)"},
      {{"/mailto"}, 2, "", "'/mailto' needs a value"},
      {{"/idmoraserver"}, 2, "", "'/idmoraserver' needs a value"},
  };
  for (const Case& c : cases) {
    Profile profile;
    VexaloProcess run(profile, c.args);
    EXPECT_EQ(run.ExitCode(), c.exit_code) << c.args[0];
    EXPECT_NE(run.Stdout().find(c.out), std::string::npos) << c.args[0] << run.Stdout();
    EXPECT_NE(run.Stderr().find(c.err), std::string::npos) << c.args[0] << run.Stderr();
    // Nothing was started or stored.
    EXPECT_FALSE(Exists(profile.socket()));
    EXPECT_FALSE(Exists(profile.settings_file()));
  }
}

TEST(VexaloProcessTest, RunsUntilAskedAndEndsInOrderOnSessionEndSignals) {
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    Profile profile;
    VexaloProcess first(profile, {});
    ASSERT_TRUE(first.WaitReady()) << first.Stderr();
    EXPECT_EQ(ProcessPid(profile), PidOf(first));
    first.Signal(signal_number);
    EXPECT_EQ(first.ExitCode(), 0) << signal_number;
    EXPECT_EQ(ProcessPid(profile), RegValue::Dword(0));
    EXPECT_FALSE(Exists(profile.socket()));

    VexaloProcess next(profile, {});
    ASSERT_TRUE(next.WaitReady());
    EXPECT_EQ(next.Stderr().find(kStaleWarning), std::string::npos);
  }
}

TEST(VexaloProcessTest, SecondStartRaisesTheFirstAndExits) {
  Profile profile;
  VexaloProcess first(profile, {"/log", "info", "debug"});
  ASSERT_TRUE(first.WaitReady());
  VexaloProcess second(profile, {});
  EXPECT_EQ(second.ExitCode(), 0);
  EXPECT_TRUE(first.WaitForError("PhoneWindow::Restore - brought forward"));
  EXPECT_TRUE(first.running());
  EXPECT_EQ(ProcessPid(profile), PidOf(first));
}

TEST(VexaloProcessTest, MailtoHandsExactlyTheLinkToTheRunningInstance) {
  Profile profile;
  VexaloProcess first(profile, {"/log", "sensitive", "debug"});
  ASSERT_TRUE(first.WaitReady());
  VexaloProcess second(profile,
                       {"/mailto", "mailto:someone@example.com?subject=Hello%20there&body=a", "b"});
  EXPECT_EQ(second.ExitCode(), 0) << second.Stderr();
  EXPECT_TRUE(
      first.WaitForError("mailto [mailto:someone@example.com?subject=Hello%20there&body=a b]\n"))
      << first.Stderr();
}

TEST(VexaloProcessTest, LogOptionsAreHandedToTheRunningInstance) {
  Profile profile;
  VexaloProcess first(profile, {"/log", "info", "debug"});
  ASSERT_TRUE(first.WaitReady());
  VexaloProcess log(profile, {"/log", "verbose", "file"});
  EXPECT_EQ(log.ExitCode(), 0);
  EXPECT_TRUE(first.WaitForError("log options [verbose file]\n")) << first.Stderr();
  VexaloProcess log_then_switch(profile, {"/log", "info", "/autostart"});
  EXPECT_EQ(log_then_switch.ExitCode(), 0);
  EXPECT_TRUE(first.WaitForError("log options [info]\n")) << first.Stderr();
  VexaloProcess diag(profile, {"/diag"});
  EXPECT_EQ(diag.ExitCode(), 0);
  EXPECT_TRUE(first.WaitForError("log options [diag]\n")) << first.Stderr();
}

TEST(VexaloProcessTest, MailtoWithoutARunningInstanceStartsNothing) {
  Profile profile;
  VexaloProcess mail(profile, {"/mailto", "mailto:a@b.c"});
  // The web-mail compose page does not exist yet: the link cannot go anywhere, and says so.
  EXPECT_EQ(mail.ExitCode(), 1);
  EXPECT_NE(mail.Stderr().find("web-mail"), std::string::npos);
  EXPECT_FALSE(Exists(profile.socket()));
  EXPECT_FALSE(ProcessPid(profile).has_value());
}

TEST(VexaloProcessTest, FactoryResetRemovesEveryStoredValue) {
  Profile profile;
  VexaloProcess running(profile, {});
  ASSERT_TRUE(running.WaitReady());
  RegistryFile file(profile.settings_file());
  ASSERT_TRUE(file.Edit([](RegistryTree& t) {
    t.SetValue(kOptions, "inactive_minutes", RegValue::Dword(10));
    t.SetValue(std::string(kRoot) + "\\Accounts\\alice@example.com", "a", RegValue::Dword(1));
    t.SetValue(std::string(kRoot) + "\\Autoupdate", "version", RegValue::String("1"));
    t.SetValue("Software\\Other", "kept", RegValue::Dword(1));
  }));
  VexaloProcess reset(profile, {"/factoryreset"});
  EXPECT_EQ(reset.ExitCode(), 0) << reset.Stderr();
  const RegistryTree tree = profile.Registry();
  EXPECT_FALSE(tree.KeyExists(kRoot));
  EXPECT_TRUE(tree.KeyExists("Software\\Other"));
  EXPECT_TRUE(running.running());
}

TEST(VexaloProcessTest, FactoryResetThatCannotWriteFails) {
  Profile profile;
  ASSERT_EQ(g_mkdir_with_parents(profile.settings_file().c_str(), 0700), 0);
  VexaloProcess reset(profile, {"/factoryreset"});
  EXPECT_EQ(reset.ExitCode(), 1);
  EXPECT_NE(reset.Stderr().find("cannot delete the settings"), std::string::npos);
}

TEST(VexaloProcessTest, NoMutexRunsBesideOthersWithoutTouchingProcessValues) {
  Profile profile;
  VexaloProcess a(profile, {"/nomutex", "/log", "info", "debug"});
  VexaloProcess b(profile, {"/nomutex", "/log", "info", "debug"});
  ASSERT_TRUE(a.WaitForError("Main loop starts"));
  ASSERT_TRUE(b.WaitForError("Main loop starts"));
  EXPECT_FALSE(ProcessPid(profile).has_value());

  VexaloProcess guarded(profile, {});
  ASSERT_TRUE(guarded.WaitReady());
  EXPECT_EQ(ProcessPid(profile), PidOf(guarded));
  EXPECT_TRUE(a.running() && b.running());

  a.Signal(SIGTERM);
  b.Signal(SIGTERM);
  EXPECT_EQ(a.ExitCode(), 0);
  EXPECT_EQ(b.ExitCode(), 0);
  EXPECT_EQ(ProcessPid(profile), PidOf(guarded));
}

TEST(VexaloProcessTest, ForceStartClosesACooperativeInstance) {
  Profile profile;
  VexaloProcess first(profile, {});
  ASSERT_TRUE(first.WaitReady());
  VexaloProcess second(profile, {"/forcestart"});
  EXPECT_EQ(first.ExitCode(), 0);
  ASSERT_TRUE(second.WaitReady()) << second.Stderr();
  EXPECT_EQ(ProcessPid(profile), PidOf(second));
  EXPECT_EQ(second.Stderr().find(kStaleWarning), std::string::npos);
  EXPECT_EQ(second.Stderr().find("sending signal"), std::string::npos);
}

// A stopped instance neither answers the request to close nor acts on SIGTERM: it takes
// SIGKILL. Its pid stays written, so the new instance checks for an update.
TEST(VexaloProcessTest, ForceStartKillsAnInstanceThatIgnoresTheQuitRequest) {
  Profile profile;
  VexaloProcess hung(profile, {});
  ASSERT_TRUE(hung.WaitReady());
  hung.Signal(SIGSTOP);
  VexaloProcess second(profile, {"/forcestart"});
  ASSERT_TRUE(second.WaitReady()) << second.Stderr();
  ASSERT_TRUE(hung.Wait().has_value());
  EXPECT_EQ(hung.TermSignal(), SIGKILL);
  const std::string err = second.Stderr();
  EXPECT_NE(err.find("sending signal 15 to pid " + std::to_string(hung.pid())), std::string::npos)
      << err;
  EXPECT_NE(err.find("sending signal 9 to pid " + std::to_string(hung.pid())), std::string::npos);
  EXPECT_NE(err.find(kStaleWarning), std::string::npos);
  EXPECT_EQ(ProcessPid(profile), PidOf(second));
}

// A lock holder without a hand-over socket ends at SIGTERM.
TEST(VexaloProcessTest, ForceStartTerminatesALockHolderThatCannotBeAsked) {
  Profile profile;
  ASSERT_EQ(g_mkdir_with_parents((profile.runtime_dir() + "/vexalo").c_str(), 0700), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const std::string lock_file = profile.lock_file();
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    // Only async-signal-safe calls between fork and the end.
    const int fd = open(lock_file.c_str(), O_RDWR | O_CREAT, 0600);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fd < 0 || fcntl(fd, F_SETLK, &lock) != 0) _exit(3);
    if (write(ready[1], "r", 1) != 1) _exit(4);
    for (;;) pause();
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);

  VexaloProcess second(profile, {"/forcestart"});
  const bool ready_ok = second.WaitReady();
  int status = 0;
  if (!ready_ok) kill(holder, SIGKILL);
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  ASSERT_TRUE(ready_ok) << second.Stderr();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_EQ(second.Stderr().find("sending signal 9"), std::string::npos);
  EXPECT_EQ(second.Stderr().find(kStaleWarning), std::string::npos);
}

TEST(VexaloProcessTest, AKilledInstanceMakesTheNextStartCheckForAnUpdate) {
  Profile profile;
  VexaloProcess first(profile, {});
  ASSERT_TRUE(first.WaitReady());
  first.Signal(SIGKILL);
  first.Wait();
  EXPECT_EQ(ProcessPid(profile), PidOf(first));
  VexaloProcess next(profile, {"/log", "info", "debug"});
  ASSERT_TRUE(next.WaitReady());
  EXPECT_NE(next.Stderr().find(kStaleWarning), std::string::npos);
  EXPECT_NE(next.Stderr().find("(update check requested)"), std::string::npos);
}

TEST(VexaloProcessTest, AnUnreadableSettingsFileIsMovedAsideAndDefaultsApply) {
  Profile profile;
  ASSERT_EQ(g_mkdir_with_parents((profile.config_dir() + "/vexalo").c_str(), 0700), 0);
  WriteFile(profile.settings_file(),
            "\x7f"
            "ELF garbage\n[broken\n");
  VexaloProcess first(profile, {});
  ASSERT_TRUE(first.WaitReady()) << first.Stderr();
  EXPECT_TRUE(Exists(profile.settings_file() + ".bad"));
  EXPECT_NE(first.Stderr().find("moved to"), std::string::npos);
  EXPECT_EQ(ProcessPid(profile), PidOf(first));
}

TEST(VexaloProcessTest, BadValuesInTheSettingsFileAreRejectedOneByOne) {
  Profile profile;
  ASSERT_EQ(g_mkdir_with_parents((profile.config_dir() + "/vexalo").c_str(), 0700), 0);
  WriteFile(profile.settings_file(),
            "[Software\\Ombrix\\Vexalo\\Options]\ntheme=sz:\xff\xfe\nproxy_host=sz:" +
                std::string(100000, 'h') + "\ninactive_minutes=dword:10\n");
  VexaloProcess first(profile, {});
  ASSERT_TRUE(first.WaitReady());
  const std::string err = first.Stderr();
  EXPECT_NE(err.find("Options\\theme rejected (not UTF-8 text)"), std::string::npos) << err;
  EXPECT_NE(err.find("Options\\proxy_host rejected (too long)"), std::string::npos) << err;
  // The good value is kept (the instance wrote its pid beside it).
  EXPECT_EQ(profile.Registry().QueryValue(kOptions, "inactive_minutes"), RegValue::Dword(10));
}

std::string DefaultMailHandler(const Profile& profile) {
  GKeyFile* file = g_key_file_new();
  std::string handler;
  if (g_key_file_load_from_file(file, (profile.config_dir() + "/mimeapps.list").c_str(),
                                G_KEY_FILE_NONE, nullptr)) {
    gchar* value =
        g_key_file_get_string(file, "Default Applications", "x-scheme-handler/mailto", nullptr);
    if (value) handler = value;
    g_free(value);
  }
  g_key_file_free(file);
  while (!handler.empty() && handler.back() == ';') handler.pop_back();
  return handler;
}

TEST(VexaloProcessTest, RegisterAndUnregisterTheDesktopEntries) {
  Profile profile;
  const std::string apps = profile.data_dir() + "/applications";
  ASSERT_EQ(g_mkdir_with_parents(apps.c_str(), 0700), 0);
  WriteFile(apps + "/othermail.desktop",
            "[Desktop Entry]\nType=Application\nName=Other\nExec=/bin/true %u\n"
            "MimeType=x-scheme-handler/mailto;\n");
  WriteFile(profile.config_dir() + "/mimeapps.list",
            "[Default Applications]\nx-scheme-handler/mailto=othermail.desktop\n");
  const std::string autostart = profile.config_dir() + "/autostart/vexalo.desktop";
  const std::string handler = apps + "/vexalo-mailto.desktop";

  for (int round = 0; round < 2; ++round) {
    VexaloProcess reg(profile, {"/register"});
    ASSERT_EQ(reg.ExitCode(), 0) << reg.Stderr();
    EXPECT_NE(ReadFile(autostart).find(std::string("Exec=\"") + VEXALO_BINARY + "\" /autostart"),
              std::string::npos)
        << ReadFile(autostart);
    EXPECT_NE(ReadFile(handler).find(std::string("Exec=\"") + VEXALO_BINARY + "\" /mailto %u"),
              std::string::npos);
    EXPECT_EQ(DefaultMailHandler(profile), "vexalo-mailto.desktop");
    const RegistryTree tree = profile.Registry();
    EXPECT_EQ(tree.QueryValue(kOptions, "mailto_is_registered"), RegValue::Dword(1));
    // A second registration keeps the handler of before, not itself.
    EXPECT_EQ(tree.QueryValue(kOptions, "mailto_backup_handler"),
              RegValue::String("othermail.desktop"));
  }

  VexaloProcess unreg(profile, {"/unregister"});
  ASSERT_EQ(unreg.ExitCode(), 0) << unreg.Stderr();
  EXPECT_FALSE(Exists(autostart));
  EXPECT_FALSE(Exists(handler));
  EXPECT_EQ(DefaultMailHandler(profile), "othermail.desktop");
  EXPECT_FALSE(profile.Registry().KeyExists(kOptions));

  // With the autostart option off, registering writes no autostart entry.
  RegistryFile(profile.settings_file()).Edit([](RegistryTree& t) {
    t.SetValue(kOptions, "autostart", RegValue::Dword(0));
  });
  VexaloProcess reg(profile, {"/register"});
  ASSERT_EQ(reg.ExitCode(), 0) << reg.Stderr();
  EXPECT_FALSE(Exists(autostart));
  EXPECT_TRUE(Exists(handler));
}

// With a real Secret Service (tests/scripts/with-keyring.sh): a factory reset also removes
// the passwords that the deleted settings referred to.
TEST(PeerVexaloProcessTest, FactoryResetRemovesStoredPasswords) {
  if (!getenv("VEXALO_SECRET_SERVICE")) GTEST_SKIP() << "no Secret Service set up";
  Profile profile;
  SecretServiceStore store;
  const std::string key = std::string(kOptions) + "\\proxy_password";
  ASSERT_EQ(store.Store(key, "Vexalo test", "pr0xy"), SecretResult::kOk);
  VexaloProcess reset(profile, {"/factoryreset"});
  EXPECT_EQ(reset.ExitCode(), 0) << reset.Stderr();
  std::string secret;
  EXPECT_EQ(store.Lookup(key, &secret), SecretResult::kNotFound);
}

}  // namespace
}  // namespace vexalo
