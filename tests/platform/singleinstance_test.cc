#include "platform/singleinstance.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/registryfile.h"
#include "support/testfiles.h"

namespace vexalo {
namespace {

constexpr char kProcessKey[] = "Software\\Ombrix\\Vexalo\\Process";

// What another process sees as the lock's holder (our own lock never conflicts with us).
pid_t HolderSeenFromAnotherProcess(const std::string& lock_file) {
  const pid_t child = fork();
  if (child == 0) {
    const pid_t holder = SingleInstance::LockHolder(lock_file);
    _exit(holder == getppid() ? 1 : holder == 0 ? 0 : 2);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return code == 1 ? getpid() : code == 0 ? 0 : -1;
}

class SingleInstanceTest : public ::testing::Test {
 protected:
  std::optional<RegValue> Pid() { return registry_.Read().QueryValue(kProcessKey, "pid"); }

  TempDir dir_;
  RegistryFile registry_{dir_ / "cfg/settings.ini"};
  InstancePaths paths_ = InstancePaths::In(dir_ / "run/vexalo");
};

TEST_F(SingleInstanceTest, HolderKeepsItsPidAndSocketUntilRelease) {
  SingleInstance instance(paths_, &registry_, kProcessKey);
  const SingleInstance::Result result = instance.Acquire(false);
  ASSERT_TRUE(result.acquired);
  EXPECT_FALSE(result.stale_pid);
  EXPECT_FALSE(result.failed);
  EXPECT_EQ(Pid(), RegValue::Dword(static_cast<uint32_t>(getpid())));
  EXPECT_GE(instance.listen_fd(), 0);
  struct stat st;
  ASSERT_EQ(stat(paths_.dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(lstat(paths_.socket.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(HolderSeenFromAnotherProcess(paths_.lock_file), getpid());

  instance.Release();
  EXPECT_EQ(Pid(), RegValue::Dword(0));
  EXPECT_FALSE(g_file_test(paths_.socket.c_str(), G_FILE_TEST_EXISTS));
  EXPECT_EQ(HolderSeenFromAnotherProcess(paths_.lock_file), 0);
  EXPECT_EQ(instance.listen_fd(), -1);
}

TEST_F(SingleInstanceTest, APidLeftBehindIsReportedStale) {
  struct Case {
    std::optional<RegValue> left;
    bool stale;
  };
  const Case cases[] = {
      {std::nullopt, false},
      {RegValue::Dword(0), false},
      {RegValue::Dword(4242), true},
      {RegValue::String("4242"), false},  // not a dword: reads as 0
  };
  for (const Case& c : cases) {
    registry_.Edit([&](RegistryTree& t) {
      t.DeleteKey(kProcessKey);
      if (c.left) t.SetValue(kProcessKey, "pid", *c.left);
    });
    SingleInstance instance(paths_, &registry_, kProcessKey);
    const SingleInstance::Result result = instance.Acquire(false);
    ASSERT_TRUE(result.acquired);
    EXPECT_EQ(result.stale_pid, c.stale);
  }
}

TEST_F(SingleInstanceTest, FailsWhenTheFolderCannotBeUsed) {
  ASSERT_EQ(g_mkdir_with_parents((dir_ / "run").c_str(), 0700), 0);
  WriteFile(paths_.dir, "a file where the folder belongs");
  SingleInstance instance(paths_, &registry_, kProcessKey);
  const SingleInstance::Result result = instance.Acquire(false);
  EXPECT_FALSE(result.acquired);
  EXPECT_TRUE(result.failed);
  EXPECT_FALSE(Pid().has_value());
}

TEST_F(SingleInstanceTest, TightensTheFolderPermissions) {
  ASSERT_EQ(g_mkdir_with_parents(paths_.dir.c_str(), 0755), 0);
  chmod(paths_.dir.c_str(), 0755);
  SingleInstance instance(paths_, &registry_, kProcessKey);
  ASSERT_TRUE(instance.Acquire(false).acquired);
  struct stat st;
  ASSERT_EQ(stat(paths_.dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace vexalo
