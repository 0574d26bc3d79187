#include "ui/gtk/chatrenderer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "ui/gtk/chatplaceholders.h"
#include "ui/gtk/chatthemefolders.h"

namespace vexalo {
namespace {

class Placeholders : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

// 2026-03-04 05:06:07 UTC
constexpr std::time_t kTime = 1772600767;

TEST_F(Placeholders, TimeWithAndWithoutArgument) {
  ChatPlaceholders values;
  values.SetTime(kTime);
  EXPECT_EQ(values.Expand("[%time{%H:%M}%]"), "[05:06]");
  EXPECT_EQ(values.Expand("[%time%]"), "[05:06:07]");  // %X in the C locale
  EXPECT_EQ(values.Expand("[%time{<%Y>}%]"), "[&lt;2026&gt;]");
  EXPECT_EQ(values.Expand("[%time{}%]"), "[]");
}

TEST_F(Placeholders, UnknownMalformedAndLongPlaceholdersStay) {
  ChatPlaceholders values;
  values.Set("message", "M");
  const std::string long_name(130, 'a');
  struct Case {
    std::string text, expanded;
  };
  const std::vector<Case> cases = {
      {"%message%", "M"},
      {"100% sure %message%", "100% sure M"},
      {"%unknown% %message%", "%unknown% M"},
      {"%unknown%message%", "%unknown%message%"},
      {"%%message%%", "%M%"},
      {"%message", "%message"},
      {"%message{arg}%", "M"},
      {"%message{unclosed%", "%message{unclosed%"},
      {"%" + long_name + "%", "%" + long_name + "%"},
      {"%time%", "%time%"},  // no time given
  };
  for (const auto& c : cases) EXPECT_EQ(values.Expand(c.text), c.expanded) << c.text;
}

TEST_F(Placeholders, ValuesAreNotExpandedAgain) {
  ChatPlaceholders values;
  values.Set("sender", "%message%");
  values.Set("message", "%sender%");
  EXPECT_EQ(values.Expand("%sender%: %message%"), "%message%: %sender%");
}

ChatRenderer Renderer() {
  return ChatRenderer(ChatTheme(), {"file:///b.svg", "file:///g.svg", "file:///r.svg", "file:///y.svg"});
}

TEST_F(Placeholders, BlocksAndContinuations) {
  ChatRenderer renderer = Renderer();
  EXPECT_EQ(renderer.Header(), "");
  const ChatSender bob{"Bob", "", 1};
  const ChatSender me{"Me", "", 0};
  struct Step {
    bool outgoing, status, new_block;
    std::string starts_with;
  };
  const std::vector<Step> steps = {
      {false, false, true, "<div class='chat'>"},   // incoming block
      {false, false, false, "<div class='msg Nth'>"},  // continuation
      {true, false, true, "<div class='chat'>"},    // outgoing block
      {true, false, false, "<div class='msg Nth'>"},
      {false, true, true, "<div class='system'>"},  // system line
      {false, true, false, "<div class='system'>"},  // next system line
      {false, false, true, "<div class='chat'>"},   // incoming after a system line
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    const auto& step = steps[i];
    const ChatInsertion insertion = step.status ? renderer.Status("note", kTime)
                                                : renderer.Message(step.outgoing ? me : bob, "hi",
                                                                   kTime, step.outgoing);
    EXPECT_EQ(insertion.new_block, step.new_block) << i;
    EXPECT_EQ(insertion.html.rfind(step.starts_with, 0), 0u) << i << ": " << insertion.html;
    EXPECT_NE(insertion.html.find("<div id='insert'></div>"), std::string::npos) << i;
  }
  // A new page starts with a new block again.
  renderer.Header();
  EXPECT_TRUE(renderer.Message(bob, "again", kTime, false).new_block);
}

TEST_F(Placeholders, SenderPictureAndTimeInTheShippedTheme) {
  const ChatThemeFolders folders({std::string(VEXALO_SOURCE_DIR) + "/src/ui/gtk/data/themes"}, "");
  ChatTheme theme;
  ASSERT_TRUE(theme.Load("ClassicPicture", folders));
  ChatRenderer renderer(theme, {"file:///b.svg", "file:///g.svg", "file:///r.svg", "file:///y.svg"});
  const ChatInsertion first = renderer.Message({"<i>Bob</i>", "", 2}, "x", kTime, false);
  EXPECT_NE(first.html.find("<bdi>&lt;i&gt;Bob&lt;/i&gt;</bdi>"), std::string::npos) << first.html;
  EXPECT_NE(first.html.find("src='file:///r.svg'"), std::string::npos) << first.html;
  EXPECT_NE(first.html.find(">05:06<"), std::string::npos) << first.html;
  const ChatInsertion own =
      renderer.Message({"Me", "file:///home/me/pic'.png", 0}, "y", kTime, true);
  EXPECT_NE(own.html.find("src='file:///home/me/pic&#39;.png'"), std::string::npos) << own.html;
}

}  // namespace
}  // namespace vexalo
