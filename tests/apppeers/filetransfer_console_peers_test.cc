// Two real `vexalo --console` clients through a real Prosody send a file over a tunnel on
// direct UDP, with the application's own port allocator. Needs a non-loopback address: run
// through tests/scripts/p2p-netns.sh, which also keeps Prosody inside the namespace.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/sha256digest.h"
#include "support/bytepattern.h"
#include "support/consoleclient.h"
#include "support/peers/prosodypeer.h"
#include "support/testfiles.h"

namespace vexalo {
namespace {

std::string HashOf(const std::string& path) {
  std::string hex;
  uint64_t size = 0;
  return Sha256Digest::OfFile(path, &hex, &size) ? hex : std::string();
}

class PeerConsoleFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (getenv("VEXALO_P2P_TEST_IP") == nullptr) {
      GTEST_SKIP() << "needs a non-loopback address (run through tests/scripts/p2p-netns.sh)";
    }
    signal(SIGPIPE, SIG_IGN);
    prosody_ = std::make_unique<ProsodyPeer>();
    prosody_->AddUser("alice", "alice-password");
    prosody_->AddUser("bob", "bob-password");
    ASSERT_TRUE(prosody_->started()) << prosody_->error();
  }
  std::string Server() const { return "127.0.0.1:" + std::to_string(prosody_->port()); }
  // Both signed in, each on the other's contact list and seen online.
  void Befriend(ConsoleClient& alice, ConsoleClient& bob) {
    ASSERT_TRUE(alice.Send("/signin alice@localhost " + Server()));
    ASSERT_TRUE(bob.Send("/signin bob@localhost " + Server()));
    ASSERT_TRUE(alice.WaitForLine({"state", "signed-in"})) << alice.Output() << alice.Stderr();
    ASSERT_TRUE(bob.WaitForLine({"state", "signed-in"})) << bob.Output() << bob.Stderr();
    ASSERT_TRUE(alice.Send("/add bob@localhost"));
    ASSERT_TRUE(bob.WaitForLine({"subscription", "alice@localhost", "subscribe"})) << bob.Output();
    ASSERT_TRUE(bob.Send("/accept alice@localhost"));
    ASSERT_TRUE(alice.WaitForLine({"subscription", "bob@localhost", "subscribe"})) << alice.Output();
    ASSERT_TRUE(alice.Send("/accept bob@localhost"));
    ASSERT_TRUE(alice.WaitFor([](const ConsoleClient::Fields& f) {
      return f.size() >= 3 && f[0] == "presence" && f[1].rfind("bob@localhost/", 0) == 0 && f[2] == "available";
    })) << alice.Output();
    ASSERT_TRUE(bob.WaitFor([](const ConsoleClient::Fields& f) {
      return f.size() >= 3 && f[0] == "roster" && f[1] == "alice@localhost" && f.back() == "both";
    })) << bob.Output();
  }

  std::unique_ptr<ProsodyPeer> prosody_;
  TempDir files_;
};

TEST_F(PeerConsoleFileTest, FileCrossesOverDirectUdpAndArrivesWhole) {
  ConsoleClient alice("alice-password", prosody_->certificate());
  ConsoleClient bob("bob-password", prosody_->certificate());
  ASSERT_TRUE(alice.started() && bob.started());
  Befriend(alice, bob);
  const std::string path = files_.Write("notes.bin", BytePattern(6 << 20, 11));
  const std::string folder = files_ / "inbox";
  std::filesystem::create_directory(folder);

  ASSERT_TRUE(alice.Send("/sendfile bob@localhost " + path));
  auto offer = bob.WaitForLine({"fileoffer", "alice@localhost/"});
  ASSERT_TRUE(offer) << bob.Output() << alice.Output() << alice.Stderr();
  ConsoleClient::Fields fields = SplitTabs(*offer);
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[3], "notes.bin");
  EXPECT_EQ(fields[4], std::to_string(6 << 20));
  ASSERT_TRUE(bob.Send("/acceptfile " + fields[2] + " " + folder));
  auto done = bob.WaitForLine({"filedone", fields[2]}, 0, 60000);
  ASSERT_TRUE(done) << bob.Output() << bob.Stderr();
  EXPECT_EQ(SplitTabs(*done)[2], folder + "/notes.bin");
  EXPECT_EQ(HashOf(folder + "/notes.bin"), HashOf(path));
  EXPECT_TRUE(alice.WaitForLine({"filedone"}, 0, 10000)) << alice.Output();
  EXPECT_TRUE(bob.WaitForLine({"fileprogress", fields[2]}));
}

TEST_F(PeerConsoleFileTest, InterruptedTransferLeavesNothingUnderTheFinalName) {
  ConsoleClient alice("alice-password", prosody_->certificate());
  auto bob = std::make_unique<ConsoleClient>("bob-password", prosody_->certificate());
  ASSERT_TRUE(alice.started() && bob->started());
  Befriend(alice, *bob);
  const std::string path = files_.Write("big.bin", BytePattern(40 << 20, 5));
  const std::string folder = files_ / "inbox";
  std::filesystem::create_directory(folder);
  ASSERT_TRUE(alice.Send("/sendfile bob@localhost " + path));
  auto offer = bob->WaitForLine({"fileoffer", "alice@localhost/"});
  ASSERT_TRUE(offer) << bob->Output();
  const std::string id = SplitTabs(*offer)[2];
  ASSERT_TRUE(bob->Send("/acceptfile " + id + " " + folder));
  ASSERT_TRUE(bob->WaitForLine({"fileprogress", id})) << bob->Output();
  // The sender dies mid-way.
  kill(alice.pid(), SIGKILL);
  usleep(500000);
  EXPECT_FALSE(std::filesystem::exists(folder + "/big.bin"));
  // The receiver going away takes its temporary file with it.
  ASSERT_TRUE(bob->Send("/quit"));
  EXPECT_EQ(bob->ExitCode(), 0);
  bob.reset();
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
}  // namespace vexalo
