#include "app/settings.h"

#include <gtest/gtest.h>

namespace vexalo {
namespace {

TEST(SettingsTest, NoteOptionsFollowTheirOwnDefaultsAndTheMasterSwitch) {
  struct Case {
    int32_t call_ring;
    int32_t presence_note;
    int32_t note_disabled;
    bool ring_on;
    bool presence_on;
  };
  const Case cases[] = {
      {kNoteDefault, kNoteDefault, kNoteDefault, true, false},
      {kNoteOff, kNoteOn, kNoteDefault, false, true},
      {kNoteOn, kNoteOn, kNoteOff, true, true},
      {kNoteOn, kNoteOn, kNoteOn, false, false},
      {kNoteDefault, kNoteDefault, kNoteOn, false, false},
  };
  for (const Case& c : cases) {
    Settings s;
    s.call_ring = c.call_ring;
    s.presence_note = c.presence_note;
    s.note_disabled = c.note_disabled;
    EXPECT_EQ(s.CallRingOn(), c.ring_on) << c.call_ring << c.presence_note << c.note_disabled;
    EXPECT_EQ(s.PresenceNoteOn(), c.presence_on)
        << c.call_ring << c.presence_note << c.note_disabled;
  }
}

TEST(SettingsTest, WindowRectanglesAreWidenedOnSaveAndCheckedOnRestore) {
  EXPECT_EQ(WindowRectForSave({10, 20, 50, 60}), (WindowRect{10, 20, 134, 206}));
  EXPECT_EQ(WindowRectForSave({10, 20, 400, 700}), (WindowRect{10, 20, 400, 700}));

  const WindowRect work{0, 0, 1920, 1040};
  const WindowRect fallback{1920 - 260, 0, 1920, 450};
  struct Case {
    WindowRect stored;
    WindowRect expected;
  };
  const Case cases[] = {
      {{100, 100, 400, 700}, {100, 100, 400, 700}},
      {{0, 0, 1920, 1040}, {0, 0, 1920, 1040}},
      {{100, 100, 223, 700}, fallback},    // 123 wide
      {{100, 100, 400, 285}, fallback},    // 185 high
      {{1800, 100, 2100, 700}, fallback},  // off the right edge
      {{-1, -1, -1, -1}, fallback},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WindowRectForRestore(c.stored, work, work), c.expected) << c.stored.left;
  }
}

TEST(SettingsTest, FirewallOptionsGiveTheirRules) {
  EXPECT_TRUE(FirewallRulesFor(0, "", 0).empty());
  EXPECT_TRUE(FirewallRulesFor(5, "", 0).empty());
  EXPECT_TRUE(FirewallRulesFor(-1, "", 0).empty());
  EXPECT_EQ(FirewallRulesFor(1, "", 0), (std::vector<FirewallRule>{{0, 0, 2, "", 0}}));
  EXPECT_EQ(FirewallRulesFor(2, "", 0),
            (std::vector<FirewallRule>{{0, 0, 2, "", 0}, {0, 1, 0, "", 0}}));
  EXPECT_EQ(FirewallRulesFor(3, "ignored", 1),
            (std::vector<FirewallRule>{
                {0, 0, 2, "", 0}, {1, 1, 1, "", 80}, {1, 1, 1, "", 443}, {0, 1, 2, "", 0}}));
  EXPECT_EQ(
      FirewallRulesFor(4, "10.0.0.1", 3128),
      (std::vector<FirewallRule>{{0, 0, 2, "", 0}, {1, 1, 1, "10.0.0.1", 3128}, {0, 1, 2, "", 0}}));
}

}  // namespace
}  // namespace vexalo
