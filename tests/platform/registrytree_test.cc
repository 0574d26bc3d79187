#include "platform/registrytree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexalo {
namespace {

constexpr char kOptions[] = "Software\\Ombrix\\Vexalo\\Options";

std::string Big(size_t n) { return std::string(n, 'x'); }

// Every kind of value and awkward name survives the file form unchanged.
TEST(RegistryTreeTest, RoundTripsEveryTypeAndAwkwardNames) {
  struct Case {
    std::string path;
    std::string name;
    RegValue value;
  };
  const std::vector<Case> cases = {
      {kOptions, "zero", RegValue::Dword(0)},
      {kOptions, "max", RegValue::Dword(0xFFFFFFFFu)},
      {kOptions, "empty", RegValue::String("")},
      {kOptions, "text", RegValue::String(" lead, trail \t\nline2\r\\n;=[x]#")},
      {kOptions, "unicode", RegValue::String("Standardgerät ☎")},
      {kOptions, "longest", RegValue::String(Big(kMaxRegValueBytes))},
      {kOptions, "multi", RegValue::MultiString({"a;b", "", "c\\d", "\\;"})},
      {kOptions, "multi-empty", RegValue::MultiString({})},
      {kOptions, "bytes", RegValue::Binary({0x00, 0xff, 0x10, 0x7f})},
      {kOptions, "no-bytes", RegValue::Binary({})},
      {kOptions, "name with = and [brackets] and %41", RegValue::Dword(1)},
      {kOptions, " spaces ", RegValue::Dword(2)},
      {kOptions, "#comment-like", RegValue::Dword(3)},
      {kOptions, "änderung", RegValue::Dword(4)},
      {"Software\\Ombrix\\Vexalo\\Accounts\\user@example.com [home]", "a", RegValue::Dword(5)},
  };
  RegistryTree tree;
  for (const Case& c : cases) ASSERT_TRUE(tree.SetValue(c.path, c.name, c.value)) << c.name;

  int rejected = -1;
  std::optional<RegistryTree> parsed = RegistryTree::FromText(tree.ToText(), &rejected);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(rejected, 0);
  EXPECT_TRUE(*parsed == tree);
  for (const Case& c : cases) {
    EXPECT_EQ(parsed->QueryValue(c.path, c.name), c.value) << c.name;
  }
}

// Bad values are refused one by one; the good value beside them stays.
TEST(RegistryTreeTest, RejectsMalformedValuesOneByOne) {
  const std::vector<std::string> bad_lines = {
      "v=dword:abc",
      "v=dword:4294967296",
      "v=dword:-1",
      "v=dword:",
      "v=dword: 5",
      "v=hex:abc",
      "v=hex:zz",
      "v=multi_sz:a",
      "v=multi_sz:a\\\\",
      "v=unknown:1",
      "v=no type at all",
      "v=sz:\xff\xfe",
      "v=sz:" + Big(kMaxRegValueBytes + 1),
      "v=hex:" + std::string(2 * (kMaxRegValueBytes + 1), 'a'),
      "bad%G1=dword:1",
      "bad%4=dword:1",
      "%00=dword:1",
  };
  for (const std::string& line : bad_lines) {
    const std::string text =
        std::string("[Software\\Ombrix\\Vexalo\\Options]\n") + line + "\ngood=dword:7\n";
    int rejected = 0;
    std::optional<RegistryTree> tree = RegistryTree::FromText(text, &rejected);
    ASSERT_TRUE(tree.has_value()) << line.substr(0, 40);
    EXPECT_EQ(rejected, 1) << line.substr(0, 40);
    EXPECT_EQ(tree->ValueNames(kOptions), std::vector<std::string>{"good"}) << line.substr(0, 40);
  }
}

TEST(RegistryTreeTest, RejectsKeysWithBadNames) {
  int rejected = 0;
  std::optional<RegistryTree> tree = RegistryTree::FromText(
      "[A\\\\B]\nv=dword:1\n[A%5CB]\nw=dword:1\n[Good]\nx=dword:1\n", &rejected);
  ASSERT_TRUE(tree.has_value());
  EXPECT_EQ(rejected, 2);
  EXPECT_TRUE(tree->KeyExists("Good"));
  EXPECT_FALSE(tree->KeyExists("A"));
}

TEST(RegistryTreeTest, TextThatIsNoKeyFileIsRefusedWhole) {
  for (const char* text : {"just some words\n", "[unterminated\nv=dword:1\n", "v=dword:1\n"}) {
    EXPECT_FALSE(RegistryTree::FromText(text).has_value()) << text;
  }
  EXPECT_TRUE(RegistryTree::FromText("").has_value());
}

TEST(RegistryTreeTest, DeleteKeyRemovesSubKeysButNotSiblingsWithTheSamePrefix) {
  RegistryTree tree;
  tree.SetValue("Software\\A", "v", RegValue::Dword(1));
  tree.SetValue("Software\\A\\B", "v", RegValue::Dword(2));
  tree.SetValue("Software\\A\\B\\C", "v", RegValue::Dword(3));
  tree.SetValue("Software\\AB", "v", RegValue::Dword(4));
  tree.SetValue("Software\\A B", "v", RegValue::Dword(5));

  EXPECT_TRUE(tree.DeleteKey("Software\\A"));
  EXPECT_FALSE(tree.KeyExists("Software\\A"));
  EXPECT_FALSE(tree.KeyExists("Software\\A\\B\\C"));
  EXPECT_TRUE(tree.KeyExists("Software\\AB"));
  EXPECT_TRUE(tree.KeyExists("Software\\A B"));
  EXPECT_FALSE(tree.DeleteKey("Software\\A"));
  EXPECT_EQ(tree.SubKeys("Software"), (std::vector<std::string>{"A B", "AB"}));
}

TEST(RegistryTreeTest, KeyExistsThroughSubKeysAndVanishesWhenEmpty) {
  RegistryTree tree;
  tree.SetValue("R\\Accounts\\x", "a", RegValue::String("x"));
  EXPECT_TRUE(tree.KeyExists("R"));
  EXPECT_TRUE(tree.KeyExists("R\\Accounts"));
  EXPECT_FALSE(tree.KeyExists("R\\Acc"));
  EXPECT_EQ(tree.SubKeys("R"), std::vector<std::string>{"Accounts"});
  EXPECT_TRUE(tree.DeleteValue("R\\Accounts\\x", "a"));
  EXPECT_FALSE(tree.KeyExists("R"));
  EXPECT_TRUE(tree.empty());
}

TEST(RegistryTreeTest, SetValueRefusesWhatBreaksTheLimits) {
  RegistryTree tree;
  EXPECT_FALSE(tree.SetValue(kOptions, "", RegValue::Dword(1)));
  EXPECT_FALSE(tree.SetValue(kOptions, Big(kMaxRegNameBytes + 1), RegValue::Dword(1)));
  EXPECT_FALSE(tree.SetValue("A\\\\B", "v", RegValue::Dword(1)));
  EXPECT_FALSE(tree.SetValue("\\A", "v", RegValue::Dword(1)));
  EXPECT_FALSE(tree.SetValue("A\\", "v", RegValue::Dword(1)));
  EXPECT_FALSE(tree.SetValue(Big(kMaxRegPathBytes + 1), "v", RegValue::Dword(1)));
  EXPECT_FALSE(tree.SetValue(kOptions, "v", RegValue::String(Big(kMaxRegValueBytes + 1))));
  EXPECT_FALSE(tree.SetValue(kOptions, "v", RegValue::String(std::string("a\0b", 3))));
  EXPECT_FALSE(tree.SetValue(kOptions, "v", RegValue::String("\xc3")));
  EXPECT_FALSE(tree.SetValue(kOptions, "v", RegValue::MultiString({"ok", "\xff"})));
  EXPECT_FALSE(tree.SetValue(kOptions, "\xff", RegValue::Dword(1)));
  EXPECT_TRUE(tree.empty());
  EXPECT_TRUE(tree.SetValue(kOptions, Big(kMaxRegNameBytes), RegValue::Dword(1)));
}

}  // namespace
}  // namespace vexalo
