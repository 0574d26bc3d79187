#include "app/filetransfers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/fileprogressmeter.h"
#include "app/sha256digest.h"
#include "session/tunnel/tunnelstream.h"
#include "support/bytepattern.h"
#include "support/logcapture.h"
#include "support/testfiles.h"
#include "tunnel/tunnelparty.h"

namespace vexalo {
namespace {

bool HasTraffic() { return PartyIp() != 0x7F000001; }

std::string Sha256Of(const std::string& data) {
  Sha256Digest digest;
  digest.Update(data.data(), data.size());
  return digest.FinishHex();
}

// Bob runs the application's file transfers; Alice is either the same (a friendly sender) or a
// bare tunnel client that offers whatever a hostile peer would.
struct Receiver {
  Receiver(const std::string& jid_in, VirtualQueue* queue, const std::string& folder, uint64_t max_size,
           std::vector<std::string> contacts)
      : jid(jid_in),
        allocator(queue, nullptr, PartyIp()),
        registry(&allocator, queue, nullptr),
        transfers(&registry, jid_in,
                  FileTransfers::Options{kSessionNs, kTunnelNs, folder, max_size,
                                         [contacts](const XmppAddress& who) {
                                           for (const std::string& c : contacts) {
                                             if (XmppAddress(c) == who) return true;
                                           }
                                           return false;
                                         }}) {}
  std::string jid;
  LoopbackAllocator allocator;
  SessionRegistry registry;
  FileTransfers transfers;
};

struct Event {
  std::string kind;
  std::string id;
  std::string detail;
};

class FileTransfersTest : public ::testing::Test, public SlotHost {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    router_.Add(&mallory_);
    router_.Add(bob_.jid, bob_.transfers.client(), &bob_.registry);
    Record(&bob_.transfers, &bob_events_);
  }
  void Record(FileTransfers* transfers, std::vector<Event>* events) {
    transfers->FileOffered.Connect(this, [events](const std::string& jid, const std::string& id,
                                                  const std::string& name, uint64_t size) {
      events->push_back({"fileoffer", id, jid + "|" + name + "|" + std::to_string(size)});
    });
    transfers->FileProgress.Connect(this, [events](const std::string& id, uint64_t bytes, uint64_t total) {
      events->push_back({"fileprogress", id, std::to_string(bytes) + "/" + std::to_string(total)});
    });
    transfers->FileDone.Connect(this, [events](const std::string& id, const std::string& path) {
      events->push_back({"filedone", id, path});
    });
    transfers->FileFailed.Connect(this, [events](const std::string& id, const std::string& reason) {
      events->push_back({"filefailed", id, reason});
    });
  }
  void Run(int ms) { router_.Run(&queue_, ms); }
  bool RunUntil(const std::function<bool()>& done, int ms) { return router_.RunUntil(&queue_, done, ms); }
  const Event* Last(const std::vector<Event>& events, const std::string& kind) {
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
      if (it->kind == kind) return &*it;
    }
    return nullptr;
  }
  // Mallory offers a file as she likes and, once answered, sends `content`.
  std::unique_ptr<TunnelStream> MalloryOffers(const FileOffer& offer,
                                               std::vector<std::pair<int, int>>* events = nullptr) {
    auto stream = mallory_.client.CreateTunnel(
        bob_.jid, std::make_shared<TunnelDescription>(FileTransfers::kFileTunnelType, offer), &queue_);
    if (events) {
      stream->StreamEvent.Connect(this, [events](DataStream*, int e, int error) { events->emplace_back(e, error); });
    }
    Run(100);
    return stream;
  }
  std::vector<std::string> FolderNames() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  // Sends everything, then waits for Bob's verdict on the transfer.
  bool Deliver(TunnelStream* stream, const std::string& content) {
    size_t sent = 0;
    return RunUntil(
        [&] {
          size_t n = 0;
          int error = 0;
          while (sent < content.size() &&
                 stream->Write(content.data() + sent, content.size() - sent, &n, &error) == SR_SUCCESS) {
            sent += n;
          }
          return Last(bob_events_, "filedone") != nullptr || Last(bob_events_, "filefailed") != nullptr;
        },
        30000);
  }

  LogCapture log_{kWarning};
  TempDir folder_;
  VirtualQueue queue_;
  TunnelParty mallory_{"mallory@example.test/m", &queue_};
  Receiver bob_{"bob@example.test/b", &queue_, folder_.path(), 1 << 20, {"mallory@example.test"}};
  TunnelRouter router_;
  std::vector<Event> bob_events_;
};

TEST_F(FileTransfersTest, HostileOffersAreRefusedOrMadeHarmless) {
  const std::string hash = Sha256Of("x");
  struct Case {
    const char* what;
    FileOffer offer;
    bool announced;
    std::string shown_name;
  } cases[] = {
      {"path climbing out", {"../../.bashrc", 1, hash}, true, "bashrc"},
      {"absolute path", {"/etc/passwd", 1, hash}, true, "passwd"},
      {"control characters", {"evil\n\x1b[2Jname.txt", 1, hash}, true, "evil[2Jname.txt"},
      {"only dots", {"..", 1, hash}, true, "received-file"},
      {"larger than the setting", {"big.iso", (1 << 20) + 1, hash}, false, ""},
      {"size beyond any disk", {"huge", 18446744073709551615ull, hash}, false, ""},
  };
  for (const Case& c : cases) {
    bob_events_.clear();
    std::vector<std::pair<int, int>> events;
    auto stream = MalloryOffers(c.offer, &events);
    Run(100);
    if (c.announced) {
      ASSERT_EQ(bob_events_.size(), 1u) << c.what;
      EXPECT_EQ(bob_events_[0].kind, "fileoffer");
      EXPECT_EQ(bob_events_[0].detail, "mallory@example.test/m|" + c.shown_name + "|1") << c.what;
      std::string error;
      EXPECT_TRUE(bob_.transfers.RejectFile(bob_events_[0].id, &error)) << error;
      Run(200);
    } else {
      EXPECT_TRUE(bob_events_.empty()) << c.what;
    }
    // Either way Mallory's offer is turned down and nothing lands in the folder.
    ASSERT_FALSE(events.empty()) << c.what;
    EXPECT_EQ(events.back().first, SE_CLOSE) << c.what;
    EXPECT_TRUE(FolderNames().empty()) << c.what;
  }
}

TEST_F(FileTransfersTest, OfferFromANonContactIsRefusedUnannounced) {
  TunnelParty eve("eve@example.test/e", &queue_);
  router_.Add(&eve);
  auto stream = eve.client.CreateTunnel(
      bob_.jid, std::make_shared<TunnelDescription>(FileTransfers::kFileTunnelType, FileOffer{"a", 1, Sha256Of("x")}),
      &queue_);
  std::vector<int> events;
  stream->StreamEvent.Connect(this, [&events](DataStream*, int e, int) { events.push_back(e); });
  Run(300);
  EXPECT_TRUE(bob_events_.empty());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0], SE_CLOSE);
}

TEST_F(FileTransfersTest, TunnelsOfAnotherKindStayUnanswered) {
  auto stream = mallory_.client.CreateTunnel(bob_.jid, std::make_shared<TunnelDescription>("chat"), &queue_);
  Run(1000);
  EXPECT_TRUE(bob_events_.empty());
  EXPECT_EQ(bob_.registry.session_count(), 1u);
  EXPECT_EQ(stream->GetState(), STREAM_OPENING);
}

TEST_F(FileTransfersTest, UnknownOffersCannotBeAnswered) {
  std::string error;
  EXPECT_FALSE(bob_.transfers.AcceptFile("f99", "", &error));
  EXPECT_EQ(error, "no such file offer: f99");
  EXPECT_FALSE(bob_.transfers.RejectFile("f99", &error));
}

// What arrives must match the offer, or no file appears under the offered name.
TEST_F(FileTransfersTest, DataThatBreaksTheOfferLeavesNoFile) {
  if (!HasTraffic()) GTEST_SKIP() << "needs a non-loopback address (run through tests/scripts/p2p-netns.sh)";
  const std::string content = BytePattern(100000);
  struct Case {
    const char* what;
    FileOffer offer;
    std::string sent;
    std::string reason;
  } cases[] = {
      {"hash mismatch", {"a.bin", content.size(), Sha256Of("other")}, content, "hash mismatch"},
      {"more than offered", {"b.bin", 1000, Sha256Of(content.substr(0, 1000))}, content, "more data than offered"},
  };
  for (const Case& c : cases) {
    bob_events_.clear();
    auto stream = MalloryOffers(c.offer);
    ASSERT_EQ(bob_events_.size(), 1u) << c.what;
    std::string error;
    ASSERT_TRUE(bob_.transfers.AcceptFile(bob_events_[0].id, "", &error)) << error;
    ASSERT_TRUE(Deliver(stream.get(), c.sent)) << c.what;
    const Event* failed = Last(bob_events_, "filefailed");
    ASSERT_NE(failed, nullptr) << c.what;
    EXPECT_EQ(failed->detail, c.reason);
    EXPECT_TRUE(FolderNames().empty()) << c.what;
    // Mallory hears the refusal.
    char verdict = 0;
    size_t n = 0;
    ASSERT_TRUE(RunUntil([&] { return stream->Read(&verdict, 1, &n, nullptr) == SR_SUCCESS; }, 5000)) << c.what;
    EXPECT_EQ(verdict, 'N');
  }
}

TEST_F(FileTransfersTest, ContactSendsAFileThatArrivesWholeBesideAnExistingOne) {
  if (!HasTraffic()) GTEST_SKIP() << "needs a non-loopback address (run through tests/scripts/p2p-netns.sh)";
  TempDir outbox;
  Receiver alice("alice@example.test/a", &queue_, outbox.path(), 1 << 30, {"bob@example.test"});
  // Bob takes files from Alice too.
  Receiver bob2("bob2@example.test/b", &queue_, folder_.path(), 1 << 30, {"alice@example.test"});
  router_.Add(alice.jid, alice.transfers.client(), &alice.registry);
  router_.Add(bob2.jid, bob2.transfers.client(), &bob2.registry);
  std::vector<Event> alice_events;
  std::vector<Event> bob_events;
  Record(&alice.transfers, &alice_events);
  Record(&bob2.transfers, &bob_events);
  const std::string content = BytePattern(3 << 20, 7);
  const std::string path = outbox.Write("holiday photos.tar", content);
  folder_.Write("holiday photos.tar", "already here");

  std::string error;
  const std::string sent_id = alice.transfers.SendFile(bob2.jid, path, &error);
  ASSERT_FALSE(sent_id.empty()) << error;
  ASSERT_TRUE(RunUntil([&] { return !bob_events.empty(); }, 2000));
  ASSERT_EQ(bob_events[0].kind, "fileoffer");
  EXPECT_EQ(bob_events[0].detail, alice.jid + "|holiday photos.tar|" + std::to_string(content.size()));
  const Tick started = queue_.Now();
  ASSERT_TRUE(bob2.transfers.AcceptFile(bob_events[0].id, "", &error)) << error;
  ASSERT_TRUE(RunUntil([&] { return Last(alice_events, "filedone") || Last(alice_events, "filefailed"); }, 120000));
  ASSERT_NE(Last(bob_events, "filedone"), nullptr);
  const std::string kept = folder_ / "holiday photos (1).tar";
  EXPECT_EQ(Last(bob_events, "filedone")->detail, kept);
  EXPECT_TRUE(ReadFile(kept) == content);
  EXPECT_EQ(ReadFile(folder_ / "holiday photos.tar"), "already here");
  ASSERT_NE(Last(alice_events, "filedone"), nullptr);
  EXPECT_EQ(Last(alice_events, "filedone")->id, sent_id);
  // Progress: a few reports a second at most, the last one complete.
  int reports = 0;
  for (const Event& e : bob_events) reports += e.kind == "fileprogress" ? 1 : 0;
  const int64_t elapsed = queue_.Now() - started;
  EXPECT_LE(reports, elapsed / FileProgressMeter::kIntervalMs + 2);
  EXPECT_EQ(Last(bob_events, "fileprogress")->detail, std::to_string(content.size()) + "/" + std::to_string(content.size()));
  EXPECT_EQ(FolderNames().size(), 2u);  // no temporary file left behind
}

}  // namespace
}  // namespace vexalo
