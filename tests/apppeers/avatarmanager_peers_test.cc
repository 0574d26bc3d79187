// Pictures between two of our clients through a real Prosody: one publishes its card and names
// the picture in its presence, the other fetches the card into its picture cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/avatarmanager.h"
#include "app/chatsession.h"
#include "base/runtime/queuetaskrunner.h"
#include "support/liveclient.h"
#include "support/peers/prosodypeer.h"
#include "support/sockettestutil.h"
#include "support/testfiles.h"
#include "xmpp/vcard/avatarhash.h"
#include "xmpp/vcard/vcard.h"
#include "xmpp/vcard/vcardsettask.h"

namespace vexalo {
namespace {

// Each sees the other's presence.
void WriteRoster(const ProsodyPeer& prosody, const std::string& user, const std::string& other) {
  const std::filesystem::path dir =
      std::filesystem::path(prosody.log()).parent_path() / "data/localhost/roster";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / (user + ".dat"))
      << "return { [false] = { [\"version\"] = 1; };\n[\"" << other
      << "@localhost\"] = { [\"subscription\"] = \"both\"; [\"groups\"] = {}; };\n};\n";
}

TEST(PeerAvatarManagerTest, ContactsPictureIsFetchedIntoTheCache) {
  ProsodyPeer prosody({"vcard_legacy"});
  ASSERT_TRUE(prosody.started()) << prosody.error();
  for (const char* user : {"pic1", "pic2"}) prosody.AddUser(user, std::string("pw-") + user);
  WriteRoster(prosody, "pic1", "pic2");
  WriteRoster(prosody, "pic2", "pic1");

  QueueTaskRunner runner;
  SlotHost host;
  auto sign_in = [&](const std::string& user) {
    auto client = std::make_unique<LiveClient>(
        &runner, LocalServerSettings(prosody.port(), user, "pw-" + user, "desk"),
        prosody.certificate());
    EXPECT_TRUE(RunUntil([&] { return client->Open() || client->Closed(); }));
    EXPECT_TRUE(client->Open()) << user;
    return client;
  };
  auto alice = sign_in("pic1");
  auto bob = sign_in("pic2");
  ASSERT_TRUE(alice->Open() && bob->Open());

  const std::string picture = "\x89PNG\r\n\x1a\n a picture of pic1";
  bool stored = false;
  auto* set = new VCardSetTask(alice->connection());
  ASSERT_TRUE(set->SetPhoto(VCard::EncodeBase64(picture)));
  set->SignalVCardSet.Connect(&host, [&](bool ok, const VCard&) { stored = ok; });
  set->Start();
  ASSERT_TRUE(RunUntil([&] { return stored; }));

  TempDir dir;
  AvatarCache cache(dir.path() + "/avatars", nullptr);
  ASSERT_TRUE(cache.Open());
  ChatSession bob_session(bob->connection());
  AvatarManager pictures(bob->connection(), &cache, XmppAddress("pic2@localhost/desk"));
  bob_session.SignalPresence.Connect(
      &host, [&](const PresenceStatus& presence) { pictures.OnPresence(presence); });
  std::string seen;
  pictures.SignalPicture.Connect(&host, [&](const XmppAddress& who, const std::string& hash) {
    if (who.ToString() == "pic1@localhost") seen = hash;
  });
  bob_session.SetStatus(ShowState::kOnline, false, "");

  ChatSession alice_session(alice->connection());
  alice_session.SetStatus(ShowState::kOnline, false, "with a picture");
  alice_session.SetPictureHash(AvatarHash(picture));
  ASSERT_TRUE(RunUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, AvatarHash(picture));
  EXPECT_EQ(cache.LoadOriginal(seen), picture);
  EXPECT_EQ(pictures.HashOf(XmppAddress("pic1@localhost")), seen);
}

}  // namespace
}  // namespace vexalo
