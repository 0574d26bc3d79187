#include "platform/registryfile.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>

#include "support/testfiles.h"

namespace vexalo {
namespace {

constexpr char kKey[] = "Software\\Ombrix\\Vexalo\\Options";

class RegistryFileTest : public ::testing::Test {
 protected:
  std::string FilePath() const { return dir_ / "cfg/vexalo/settings.ini"; }

  TempDir dir_;
  RegistryFile file_{FilePath()};
};

TEST_F(RegistryFileTest, EditWritesAPrivateFileThatReadsBack) {
  EXPECT_TRUE(file_.Read().empty());
  ASSERT_TRUE(file_.Edit([](RegistryTree& tree) {
    tree.SetValue(kKey, "inactive_minutes", RegValue::Dword(10));
    tree.SetValue(kKey, "proxy_host", RegValue::String("proxy.example"));
  }));
  struct stat st;
  ASSERT_EQ(stat(FilePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((dir_ / "cfg/vexalo").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(g_file_test((FilePath() + ".tmp").c_str(), G_FILE_TEST_EXISTS));

  RegistryFile other(FilePath());
  RegistryTree tree = other.Read();
  EXPECT_EQ(tree.QueryValue(kKey, "inactive_minutes"), RegValue::Dword(10));
  EXPECT_EQ(tree.QueryValue(kKey, "proxy_host"), RegValue::String("proxy.example"));
}

TEST_F(RegistryFileTest, EditThatChangesNothingLeavesTheFileAlone) {
  ASSERT_TRUE(file_.Edit([](RegistryTree& t) { t.SetValue(kKey, "v", RegValue::Dword(1)); }));
  struct stat before;
  ASSERT_EQ(stat(FilePath().c_str(), &before), 0);
  ASSERT_TRUE(file_.Edit([](RegistryTree& t) { t.SetValue(kKey, "v", RegValue::Dword(1)); }));
  struct stat after;
  ASSERT_EQ(stat(FilePath().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
}

// A file that is no settings file is moved aside and the defaults apply; a later edit works.
TEST_F(RegistryFileTest, UnparsableOrHugeFilesAreMovedAside) {
  const std::string cases[] = {
      "garbage without any structure\n",
      "[Software\\Ombrix\\Vexalo\\Options\nv=dword:1\n",
      "[Options]\nv=sz:" + std::string(RegistryFile::kMaxFileBytes, 'x') + "\n",
  };
  for (const std::string& contents : cases) {
    ASSERT_TRUE(file_.Edit([](RegistryTree& t) { t.SetValue(kKey, "v", RegValue::Dword(1)); }));
    WriteFile(FilePath(), contents);
    EXPECT_TRUE(file_.Read().empty());
    EXPECT_FALSE(g_file_test(FilePath().c_str(), G_FILE_TEST_EXISTS));
    EXPECT_EQ(ReadFile(FilePath() + ".bad"), contents);
    ASSERT_TRUE(file_.Edit([](RegistryTree& t) { t.SetValue(kKey, "w", RegValue::Dword(2)); }));
    EXPECT_EQ(file_.Read().QueryValue(kKey, "w"), RegValue::Dword(2));
    unlink((FilePath() + ".bad").c_str());
  }
}

TEST_F(RegistryFileTest, BadValuesAreDroppedAndTheRestKept) {
  ASSERT_TRUE(file_.Edit([](RegistryTree& t) { t.SetValue(kKey, "v", RegValue::Dword(1)); }));
  WriteFile(FilePath(), "[Software\\Ombrix\\Vexalo\\Options]\nbad=sz:\xc3\x28\nlong=sz:" +
                            std::string(kMaxRegValueBytes + 1, 'y') + "\ngood=dword:3\n");
  RegistryTree tree = file_.Read();
  EXPECT_EQ(tree.ValueNames(kKey), std::vector<std::string>{"good"});
  EXPECT_FALSE(g_file_test((FilePath() + ".bad").c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(RegistryFileTest, AFileThatCannotBeReadIsNeverOverwritten) {
  ASSERT_EQ(g_mkdir_with_parents(FilePath().c_str(), 0700), 0);  // a folder where the file goes
  EXPECT_FALSE(file_.Edit([](RegistryTree& t) { t.SetValue(kKey, "v", RegValue::Dword(1)); }));
  EXPECT_TRUE(g_file_test(FilePath().c_str(), G_FILE_TEST_IS_DIR));
}

// Two processes adding to one counter a hundred times between them lose no update.
TEST_F(RegistryFileTest, ConcurrentEditsFromTwoProcessesLoseNothing) {
  constexpr int kPerProcess = 50;
  auto add = [&] {
    RegistryFile mine(FilePath());
    for (int i = 0; i < kPerProcess; ++i) {
      mine.Edit([](RegistryTree& t) {
        const uint32_t n = t.QueryValue(kKey, "counter").value_or(RegValue::Dword(0)).dword();
        t.SetValue(kKey, "counter", RegValue::Dword(n + 1));
      });
    }
  };
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      add();
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(file_.Read().QueryValue(kKey, "counter"), RegValue::Dword(2 * kPerProcess));
}

// A writer killed at random points leaves the previous or the next complete file, never a
// torn one. Each generation writes a large value and a check value derived from it.
TEST_F(RegistryFileTest, KillDuringSaveLeavesACompleteFile) {
  ASSERT_TRUE(file_.Edit([](RegistryTree& t) {
    t.SetValue(kKey, "generation", RegValue::Dword(0));
    t.SetValue(kKey, "payload", RegValue::String(std::string(20000, 'a')));
  }));
  std::mt19937 random(12345);
  uint32_t last_generation = 0;
  for (int round = 0; round < 40; ++round) {
    int saved[2];
    ASSERT_EQ(pipe(saved), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(saved[0]);
      RegistryFile mine(FilePath());
      for (bool first = true;; first = false) {
        mine.Edit([](RegistryTree& t) {
          const uint32_t g = t.QueryValue(kKey, "generation")->dword() + 1;
          t.SetValue(kKey, "generation", RegValue::Dword(g));
          const char fill = static_cast<char>('a' + g % 26);
          for (int part = 0; part < 8; ++part) {
            t.SetValue(kKey, "payload" + std::to_string(part),
                       RegValue::String(std::string(20000, fill)));
          }
          t.SetValue(kKey, "payload", RegValue::String(std::string(20000, fill)));
        });
        // Tells the parent that one save is complete, so every round makes progress.
        if (first && write(saved[1], "s", 1) != 1) _exit(1);
      }
    }
    close(saved[1]);
    char byte;
    ASSERT_EQ(read(saved[0], &byte, 1), 1);
    close(saved[0]);
    // Not an assertion on time: only a spread of moments at which the writer dies.
    usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);

    const std::string text = ReadFile(FilePath());
    int rejected = -1;
    std::optional<RegistryTree> tree = RegistryTree::FromText(text, &rejected);
    ASSERT_TRUE(tree.has_value()) << "round " << round << ": torn file";
    EXPECT_EQ(rejected, 0);
    const uint32_t generation = tree->QueryValue(kKey, "generation")->dword();
    EXPECT_GT(generation, last_generation);
    last_generation = generation;
    const char fill = generation == 0 ? 'a' : static_cast<char>('a' + generation % 26);
    EXPECT_EQ(tree->QueryValue(kKey, "payload"), RegValue::String(std::string(20000, fill)));
    if (generation > 0) {
      for (int part = 0; part < 8; ++part) {
        EXPECT_EQ(tree->QueryValue(kKey, "payload" + std::to_string(part)),
                  RegValue::String(std::string(20000, fill)));
      }
    }
  }
}

}  // namespace
}  // namespace vexalo
