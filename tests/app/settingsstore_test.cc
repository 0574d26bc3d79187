#include "app/settingsstore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memorysecretstore.h"
#include "platform/registryfile.h"
#include "platform/registrytree.h"
#include "platform/secretservicestore.h"
#include "support/testfiles.h"

namespace vexalo {
namespace {

constexpr char kRoot[] = "Software\\Ombrix\\Vexalo";
constexpr char kOptions[] = "Software\\Ombrix\\Vexalo\\Options";

// A record in which every stored option differs from its default.
Settings EveryOptionChanged() {
  Settings s;
  s.autostart = false;
  s.autorecon = false;
  s.store_accounts = false;
  s.store_passwords = false;
  s.enable_phone = false;
  s.save_chat_history = false;
  s.away_screensaver = false;
  s.away_inactive = false;
  s.inactive_minutes = 10;
  s.sort_by_activity = false;
  s.show_avatars = false;
  s.filter_online = true;
  s.filter_lettrio_contacts = true;
  s.filter_callable = true;
  s.show_quicklist = false;
  s.view_show_taskbutton = false;
  s.view_alwaysontop = true;
  s.show_pin = true;
  s.view_as_appbar = true;
  s.autohide_appbar = true;
  s.minimized = true;
  s.windowrect = {-10, 20, 300, 700};
  s.dockededge = 3;
  s.dockedrect = {1, 2, 3, 4};
  s.chatrect = {5, 6, 700, 800};
  s.call_ring = kNoteOff;
  s.call_note = kNoteOn;
  s.chat_ding = kNoteOff;
  s.chat_note = kNoteOff;
  s.mail_note = kNoteOff;
  s.presence_note = kNoteOn;
  s.note_disabled = kNoteOn;
  s.autodetect_proxy = false;
  s.proxy_host = "proxy.example";
  s.proxy_port = 3128;
  s.use_proxy_auth = true;
  s.proxy_username = "alice";
  std::string password = "pr0xy";
  s.proxy_password = ProtectedString::FromPlain(&password);
  s.disable_udp_port = true;
  s.disable_stun_port = true;
  s.disable_relay_port = true;
  s.disable_tcp_port = true;
  s.firewall_option = 4;
  s.firewall_host = "10.0.0.1";
  s.firewall_port = 8080;
  s.audio_out = "Speakers";
  s.audio_in = "Headset";
  s.ring_device = "Speakers";
  s.adjust_mic = false;
  s.unmute_call = false;
  s.unmute_ring = false;
  s.theme = "Bubbles";
  s.mailto_is_registered = true;
  s.mailto_backup_handler = RegValue::String("othermail.desktop");
  s.mailto_backup_icon = RegValue::Binary({1, 2, 3});
  s.welcome_shown = true;
  s.logged_in_once = true;
  s.version_seen = "0.1.0";
  s.font_name = "DejaVu Sans";
  s.font_size = -15;
  s.font_weight = 700;
  s.font_italic = true;
  s.font_charset = 0;
  s.migrated_777 = true;
  s.api = "{0a1b2c3d-0000-4000-8000-000000000001}";
  return s;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  RegistryTree Tree() { return file_.Read(); }
  std::vector<std::string> StoredNames() { return Tree().ValueNames(kOptions); }
  void Put(const std::string& name, const RegValue& value) {
    ASSERT_TRUE(file_.Edit([&](RegistryTree& t) { t.SetValue(kOptions, name, value); }));
  }

  TempDir dir_;
  RegistryFile file_{dir_ / "vexalo/settings.ini"};
  MemorySecretStore secrets_;
  SettingsStore store_{&file_, kRoot, &secrets_};
};

TEST_F(SettingsStoreTest, OnlyValuesThatDifferFromTheirDefaultsAreStored) {
  store_.Load();
  EXPECT_TRUE(store_.Current() == SettingsStore::Defaults());
  ASSERT_TRUE(store_.Save(store_.Current(), kSettingsSourceUser).ok());
  EXPECT_FALSE(Tree().KeyExists(kOptions));

  Settings s = store_.Current();
  s.inactive_minutes = 5;
  store_.Save(s, kSettingsSourceUser);
  EXPECT_TRUE(StoredNames().empty());

  s.inactive_minutes = 10;
  s.autostart = false;
  s.windowrect = {5, 5, 5, 400};  // empty width: never stored
  store_.Save(s, kSettingsSourceUser);
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{"autostart", "inactive_minutes"}));
  EXPECT_EQ(Tree().QueryValue(kOptions, "inactive_minutes"), RegValue::Dword(10));
  EXPECT_EQ(Tree().QueryValue(kOptions, "autostart"), RegValue::Dword(0));
}

// Every option goes to the file and comes back: names, kinds and order all line up.
TEST_F(SettingsStoreTest, EveryOptionRoundTrips) {
  const Settings changed = EveryOptionChanged();
  ASSERT_TRUE(store_.Save(changed, kSettingsSourceUser).ok());
  EXPECT_EQ(StoredNames().size(), 65u);
  EXPECT_EQ(Tree().QueryValue(kOptions, "font_size"), RegValue::Dword(0xFFFFFFF1u));

  SettingsStore reloaded(&file_, kRoot, &secrets_);
  reloaded.Load();
  EXPECT_TRUE(reloaded.Current() == changed);
  EXPECT_EQ(reloaded.Current().proxy_password.Plain(), "pr0xy");
  EXPECT_EQ(reloaded.Current().mailto_backup_icon.type(), RegType::kBinary);

  // Removing a value by hand brings back its default.
  ASSERT_TRUE(file_.Edit([](RegistryTree& t) { t.DeleteValue(kOptions, "proxy_port"); }));
  SettingsStore again(&file_, kRoot, &secrets_);
  again.Load();
  EXPECT_EQ(again.Current().proxy_port, 1080);
}

TEST_F(SettingsStoreTest, ValuesOfTheWrongTypeOrSizeReadAsDefaults) {
  struct Case {
    const char* name;
    RegValue stored;
    std::function<bool(const Settings&)> check;
  };
  const Case cases[] = {
      {"windowrect", RegValue::Binary(std::vector<uint8_t>(12, 1)),
       [](const Settings& s) { return s.windowrect == WindowRect{}; }},
      {"windowrect", RegValue::String("1,2,3,4"),
       [](const Settings& s) { return s.windowrect == WindowRect{}; }},
      {"call_ring", RegValue::Dword(7), [](const Settings& s) { return s.call_ring == 2; }},
      {"call_ring", RegValue::Dword(0), [](const Settings& s) { return s.call_ring == 0; }},
      {"autostart", RegValue::String("0"), [](const Settings& s) { return s.autostart; }},
      {"autostart", RegValue::Dword(7), [](const Settings& s) { return s.autostart; }},
      {"filter_online", RegValue::Dword(7), [](const Settings& s) { return s.filter_online; }},
      {"proxy_port", RegValue::Binary({1, 2, 3, 4}),
       [](const Settings& s) { return s.proxy_port == 1080; }},
      {"font_name", RegValue::Dword(1), [](const Settings& s) { return s.font_name == "Arial"; }},
      {"proxy_host", RegValue::MultiString({"a"}),
       [](const Settings& s) { return s.proxy_host.empty(); }},
      {"mailto_backup_handler", RegValue::MultiString({"a", "b"}),
       [](const Settings& s) {
         return s.mailto_backup_handler == RegValue::MultiString({"a", "b"});
       }},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(file_.Edit([&](RegistryTree& t) {
      t.DeleteKey(kOptions);
      t.SetValue(kOptions, c.name, c.stored);
    }));
    SettingsStore store(&file_, kRoot, &secrets_);
    store.Load();
    EXPECT_TRUE(c.check(store.Current())) << c.name;
  }
}

TEST_F(SettingsStoreTest, ThePasswordIsKeptInTheSecretStoreOnly) {
  Settings s;
  std::string password = "pr0xy-secret";
  s.proxy_password = ProtectedString::FromPlain(&password);
  const SaveStatus status = store_.Save(s, kSettingsSourceUser);
  EXPECT_TRUE(status.ok());
  EXPECT_EQ(ReadFile(file_.path()).find("pr0xy-secret"), std::string::npos);
  EXPECT_EQ(Tree().QueryValue(kOptions, "proxy_password"), RegValue::String("secret-service"));
  EXPECT_EQ(secrets_.items().at(store_.PasswordKey()), "pr0xy-secret");

  // Saving other changes does not store the same password again.
  s.theme = "x";
  store_.Save(s, kSettingsSourceUser);
  EXPECT_EQ(secrets_.store_calls(), 1);

  // Clearing it removes it from the store and the file.
  s.proxy_password.Clear();
  EXPECT_TRUE(store_.Save(s, kSettingsSourceUser).ok());
  EXPECT_TRUE(secrets_.items().empty());
  EXPECT_FALSE(Tree().QueryValue(kOptions, "proxy_password").has_value());
}

TEST_F(SettingsStoreTest, WithoutASecretStoreThePasswordLastsForThisRunAndTheCallerIsTold) {
  secrets_.SetAvailable(false);
  Settings s;
  std::string password = "pr0xy-secret";
  s.proxy_password = ProtectedString::FromPlain(&password);
  s.theme = "x";
  const SaveStatus status = store_.Save(s, kSettingsSourceUser);
  EXPECT_TRUE(status.written);
  EXPECT_EQ(status.password, SecretResult::kUnavailable);
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(store_.Current().proxy_password.Plain(), "pr0xy-secret");
  EXPECT_EQ(ReadFile(file_.path()).find("pr0xy"), std::string::npos);
  EXPECT_EQ(StoredNames(), std::vector<std::string>{"theme"});

  // Once a store is there, the next save keeps it.
  secrets_.SetAvailable(true);
  s.theme = "y";
  EXPECT_TRUE(store_.Save(s, kSettingsSourceUser).ok());
  EXPECT_EQ(secrets_.items().at(store_.PasswordKey()), "pr0xy-secret");
}

// At log-in the keyring may not be up yet: a password that cannot be read is not dropped.
TEST_F(SettingsStoreTest, APasswordThatCannotBeReadKeepsItsReference) {
  std::string password = "pr0xy";
  Settings s;
  s.proxy_password = ProtectedString::FromPlain(&password);
  ASSERT_TRUE(store_.Save(s, kSettingsSourceUser).ok());

  secrets_.SetAvailable(false);
  SettingsStore later(&file_, kRoot, &secrets_);
  later.Load();
  EXPECT_TRUE(later.Current().proxy_password.empty());
  Settings changed = later.Current();
  changed.theme = "x";
  later.Save(changed, kSettingsSourceUser);
  EXPECT_EQ(Tree().QueryValue(kOptions, "proxy_password"), RegValue::String("secret-service"));

  secrets_.SetAvailable(true);
  SettingsStore next(&file_, kRoot, &secrets_);
  next.Load();
  EXPECT_EQ(next.Current().proxy_password.Plain(), "pr0xy");
}

TEST_F(SettingsStoreTest, LegacyClearTextPasswordMovesIntoTheSecretStore) {
  Put("auth_user", RegValue::String("bob"));
  Put("proxy_username", RegValue::String("ignored"));
  Put("auth_pass", RegValue::String("old-clear-text"));
  store_.Load();
  EXPECT_EQ(store_.Current().proxy_username, "bob");
  EXPECT_EQ(store_.Current().proxy_password.Plain(), "old-clear-text");
  EXPECT_FALSE(Tree().QueryValue(kOptions, "auth_pass").has_value());
  EXPECT_EQ(Tree().QueryValue(kOptions, "proxy_password"), RegValue::String("secret-service"));
  EXPECT_EQ(ReadFile(file_.path()).find("old-clear-text"), std::string::npos);
  EXPECT_EQ(secrets_.items().at(store_.PasswordKey()), "old-clear-text");
}

TEST_F(SettingsStoreTest, LegacyPasswordStaysWhereItIsWhenItCannotMove) {
  secrets_.SetAvailable(false);
  Put("auth_pass", RegValue::String("old-clear-text"));
  store_.Load();
  EXPECT_EQ(store_.Current().proxy_password.Plain(), "old-clear-text");
  EXPECT_EQ(Tree().QueryValue(kOptions, "auth_pass"), RegValue::String("old-clear-text"));
}

TEST_F(SettingsStoreTest, ChangesAreAnnouncedWithOldNewAndSource) {
  struct Listener : SlotHost {
    std::vector<std::tuple<int, int, int>> seen;  // old minutes, new minutes, source
  } listener;
  store_.SettingsChanged.Connect(&listener, [&](const Settings& o, const Settings& n, int src) {
    listener.seen.emplace_back(o.inactive_minutes, n.inactive_minutes, src);
  });
  Put("inactive_minutes", RegValue::Dword(7));
  store_.Load();
  Settings s = store_.Current();
  s.inactive_minutes = 9;
  store_.Save(s, kSettingsSourceProgram);
  EXPECT_EQ(listener.seen, (std::vector<std::tuple<int, int, int>>{
                               {5, 7, kSettingsSourceUser}, {7, 9, kSettingsSourceProgram}}));
}

TEST_F(SettingsStoreTest, AHandlerMaySaveAgainDuringTheAnnouncement) {
  struct Listener : SlotHost {
    std::vector<std::pair<int, int>> seen;
  } listener;
  store_.SettingsChanged.Connect(&listener, [&](const Settings& o, const Settings& n, int) {
    listener.seen.emplace_back(o.inactive_minutes, n.inactive_minutes);
    if (n.inactive_minutes == 9) {
      Settings follow = store_.Current();
      follow.inactive_minutes = 11;
      store_.Save(follow, kSettingsSourceProgram);
    }
  });
  Settings s;
  s.inactive_minutes = 9;
  store_.Save(s, kSettingsSourceUser);
  EXPECT_EQ(listener.seen, (std::vector<std::pair<int, int>>{{5, 9}, {9, 11}}));
  EXPECT_EQ(store_.Current().inactive_minutes, 11);
  EXPECT_EQ(Tree().QueryValue(kOptions, "inactive_minutes"), RegValue::Dword(11));
}

TEST_F(SettingsStoreTest, FeatureFlagsAreDwordsAndNeverWritten) {
  const std::string flags = std::string(kRoot) + "\\Flags";
  ASSERT_TRUE(file_.Edit([&](RegistryTree& t) {
    t.SetValue(flags, "html_use_browser", RegValue::Dword(1));
    t.SetValue(flags, "html_view_source", RegValue::Dword(0));
    t.SetValue(flags, "prevent_gdiplus", RegValue::String("1"));
  }));
  EXPECT_TRUE(store_.ReadFlag("html_use_browser"));
  EXPECT_FALSE(store_.ReadFlag("html_view_source", true));
  EXPECT_FALSE(store_.ReadFlag("prevent_gdiplus"));
  EXPECT_FALSE(store_.ReadFlag("autoupdate_force_wininet"));
  EXPECT_TRUE(store_.ReadFlag("autoupdate_force_wininet", true));
  store_.Save(EveryOptionChanged(), kSettingsSourceUser);
  EXPECT_EQ(Tree().ValueNames(flags).size(), 3u);
}

TEST_F(SettingsStoreTest, AValueBeyondTheLimitsIsLeftOutNotTheWholeSave) {
  Settings s;
  s.theme = std::string(kMaxRegValueBytes + 1, 't');
  s.proxy_host = "proxy.example";
  EXPECT_TRUE(store_.Save(s, kSettingsSourceUser).written);
  EXPECT_EQ(StoredNames(), std::vector<std::string>{"proxy_host"});
}

// With a real Secret Service (tests/scripts/with-keyring.sh).
TEST(PeerSettingsStoreTest, ProxyPasswordRoundTripsThroughTheKeyring) {
  if (!getenv("VEXALO_SECRET_SERVICE")) GTEST_SKIP() << "no Secret Service set up";
  TempDir dir;
  RegistryFile file(dir / "vexalo/settings.ini");
  SecretServiceStore secrets;
  {
    SettingsStore store(&file, kRoot, &secrets);
    Settings s;
    std::string password = "keyring-pr0xy";
    s.proxy_password = ProtectedString::FromPlain(&password);
    ASSERT_TRUE(store.Save(s, kSettingsSourceUser).ok());
  }
  EXPECT_EQ(ReadFile(file.path()).find("keyring-pr0xy"), std::string::npos);
  SettingsStore reloaded(&file, kRoot, &secrets);
  reloaded.Load();
  EXPECT_EQ(reloaded.Current().proxy_password.Plain(), "keyring-pr0xy");
  Settings cleared = reloaded.Current();
  cleared.proxy_password.Clear();
  ASSERT_TRUE(reloaded.Save(cleared, kSettingsSourceUser).ok());
  std::string secret;
  EXPECT_EQ(secrets.Lookup(reloaded.PasswordKey(), &secret), SecretResult::kNotFound);
}

// Two processes on one settings file: a save writes only the options this process changed,
// so neither undoes the other's change.
TEST_F(SettingsStoreTest, TwoProcessesKeepEachOthersChanges) {
  RegistryFile other_file(dir_ / "vexalo/settings.ini");
  SettingsStore other(&other_file, kRoot, &secrets_);
  store_.Load();
  other.Load();
  Settings mine = store_.Current();
  mine.autostart = false;
  ASSERT_TRUE(store_.Save(mine, kSettingsSourceUser).written);
  Settings theirs = other.Current();
  theirs.theme = "Bubbles";
  ASSERT_TRUE(other.Save(theirs, kSettingsSourceUser).written);
  // Back to the default here: the value goes, the other's stays.
  mine.autostart = true;
  mine.inactive_minutes = 10;
  ASSERT_TRUE(store_.Save(mine, kSettingsSourceUser).written);

  SettingsStore reader(&file_, kRoot, &secrets_);
  reader.Load();
  EXPECT_TRUE(reader.Current().autostart);
  EXPECT_EQ(reader.Current().inactive_minutes, 10);
  EXPECT_EQ(reader.Current().theme, "Bubbles");
}

}  // namespace
}  // namespace vexalo
