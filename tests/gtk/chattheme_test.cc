#include "ui/gtk/chattheme.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ui/gtk/chatthemefolders.h"

namespace vexalo {
namespace {

// A system and a user themes folder in a temporary directory.
class ThemeFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    gchar* made = g_dir_make_tmp("vexalo-themes-XXXXXX", nullptr);
    root_ = made;
    g_free(made);
    system_ = root_ + "/system";
    user_ = root_ + "/user";
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + root_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }

  void Write(const std::string& root, const std::string& theme, const std::string& file,
             const std::string& text) {
    const std::string path = root + "/" + theme + "/Contents/Resources/" + file;
    gchar* dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0700);
    g_free(dir);
    ASSERT_TRUE(g_file_set_contents(path.c_str(), text.c_str(), -1, nullptr));
  }
  void WriteRequired(const std::string& root, const std::string& theme) {
    Write(root, theme, "main.css", "css-" + theme);
    Write(root, theme, "Status.html", "status-" + theme);
    Write(root, theme, "Incoming/Content.html", "in-" + theme);
    Write(root, theme, "Outgoing/Content.html", "out-" + theme);
  }
  ChatThemeFolders Folders() const { return ChatThemeFolders({system_}, user_); }

  std::string root_, system_, user_;
};

TEST_F(ThemeFolders, FourRequiredFragmentsMakeACompleteTheme) {
  WriteRequired(system_, "Plain");
  ChatTheme theme;
  ASSERT_TRUE(theme.Load("Plain", Folders()));
  const std::vector<std::string> expected = {"css-Plain", "",          "status-Plain",
                                             "status-Plain", "in-Plain", "in-Plain",
                                             "out-Plain", "out-Plain"};
  for (int i = 0; i < ChatTheme::kFragmentCount; ++i) {
    EXPECT_EQ(theme.fragment(static_cast<ChatTheme::Fragment>(i)), expected[i]) << i;
  }
  EXPECT_EQ(theme.resources_folder(), system_ + "/Plain/Contents/Resources");
}

TEST_F(ThemeFolders, CompleteThemeKeepsItsOwnNextFragments) {
  WriteRequired(system_, "Full");
  Write(system_, "Full", "Header.html", "header");
  Write(system_, "Full", "NextStatus.html", "next-status");
  Write(system_, "Full", "Incoming/NextContent.html", "next-in");
  Write(system_, "Full", "Outgoing/NextContent.html", "next-out");
  ChatTheme theme;
  ASSERT_TRUE(theme.Load("Full", Folders()));
  EXPECT_EQ(theme.fragment(ChatTheme::kHeader), "header");
  EXPECT_EQ(theme.fragment(ChatTheme::kNextStatus), "next-status");
  EXPECT_EQ(theme.fragment(ChatTheme::kIncomingNext), "next-in");
  EXPECT_EQ(theme.fragment(ChatTheme::kOutgoingNext), "next-out");
}

TEST_F(ThemeFolders, ChoiceFallsBackInOrder) {
  struct Case {
    const char* what;
    std::vector<std::string> system_themes, user_themes;
    std::string wanted, chosen;
  };
  const std::vector<Case> cases = {
      {"named system theme", {"Mine", "ClassicPicture"}, {}, "Mine", "Mine"},
      {"user theme without a system one", {"ClassicPicture"}, {"Mine"}, "Mine", "Mine"},
      {"missing theme: the default", {"ClassicPicture"}, {}, "Gone", "ClassicPicture"},
      {"empty option: the default", {"ClassicPicture"}, {}, "", "ClassicPicture"},
      {"no default installed: built in", {}, {}, "", "Classic"},
      {"missing theme, no default: built in", {}, {}, "Gone", "Classic"},
      {"built in by name", {"ClassicPicture"}, {}, "Classic", "Classic"},
      {"a name leaving the folder", {"ClassicPicture"}, {}, "../user/Mine", "ClassicPicture"},
  };
  for (const auto& c : cases) {
    TearDown();
    SetUp();
    for (const auto& name : c.system_themes) WriteRequired(system_, name);
    for (const auto& name : c.user_themes) WriteRequired(user_, name);
    WriteRequired(user_, "Mine-unused");
    const ChatTheme theme = ChatTheme::Choose(c.wanted, Folders());
    EXPECT_EQ(theme.name(), c.chosen) << c.what;
  }
}

TEST_F(ThemeFolders, MissingOrUnreadableRequiredFragmentFailsTheTheme) {
  for (const char* file : {"main.css", "Status.html", "Incoming/Content.html",
                           "Outgoing/Content.html"}) {
    TearDown();
    SetUp();
    WriteRequired(system_, "Broken");
    const std::string path = system_ + "/Broken/Contents/Resources/" + file;
    // Empty counts as missing; so does a file that is not UTF-8.
    ASSERT_TRUE(g_file_set_contents(path.c_str(), file[0] == 'm' ? "" : "\xff\xfe", -1, nullptr));
    ChatTheme theme;
    EXPECT_FALSE(theme.Load("Broken", Folders())) << file;
    EXPECT_EQ(ChatTheme::Choose("Broken", Folders()).name(), "Classic") << file;
  }
}

TEST(ChatTheme, BuiltInTheme) {
  const ChatTheme theme;
  EXPECT_EQ(theme.name(), "Classic");
  EXPECT_EQ(theme.fragment(ChatTheme::kStatus),
            "<div class='system'>%message%</div>\n<div id='insert'></div>\n");
  EXPECT_EQ(theme.fragment(ChatTheme::kNextStatus), theme.fragment(ChatTheme::kStatus));
  EXPECT_EQ(theme.fragment(ChatTheme::kIncoming), theme.fragment(ChatTheme::kOutgoing));
  EXPECT_EQ(theme.fragment(ChatTheme::kIncomingNext),
            "<div class='msg Nth'>%message%</div>\n<div id='insert'></div>\n");
  EXPECT_NE(theme.fragment(ChatTheme::kStyleSheet).find("DIV#insert { display: none; }"),
            std::string::npos);
  EXPECT_EQ(theme.fragment(ChatTheme::kHeader), "");
}

TEST(ChatThemeFolders, ShippedDefaultThemeIsComplete) {
  const ChatThemeFolders folders({std::string(VEXALO_SOURCE_DIR) + "/src/ui/gtk/data/themes"}, "/nonexistent");
  ChatTheme theme;
  ASSERT_TRUE(theme.Load("ClassicPicture", folders));
  for (int colour = 0; colour < 4; ++colour) {
    const std::string uri = folders.DefaultPicture(colour);
    EXPECT_EQ(uri.rfind("file:///", 0), 0u) << colour;
  }
  EXPECT_NE(theme.fragment(ChatTheme::kIncoming).find("%userIconPath%"), std::string::npos);
}

}  // namespace
}  // namespace vexalo
