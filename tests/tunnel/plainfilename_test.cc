#include "session/tunnel/plainfilename.h"

#include <gtest/gtest.h>

#include <string>

namespace vexalo {
namespace {

TEST(PlainFileName, HostileNamesBecomePlainNames) {
  struct Case {
    std::string offered;
    std::string expected;
  } cases[] = {
      {"report.pdf", "report.pdf"},
      {"../../.bashrc", "bashrc"},
      {"/etc/passwd", "passwd"},
      {"..\\..\\Windows\\win.ini", "win.ini"},
      {"dir/", std::string(kFallbackFileName)},
      {"..", std::string(kFallbackFileName)},
      {"...", std::string(kFallbackFileName)},
      {"", std::string(kFallbackFileName)},
      {".hidden", "hidden"},
      {" . .x", "x"},
      {"a\nb\x1b[31m.txt", "ab[31m.txt"},
      {std::string("nul\0byte", 8), "nulbyte"},
      {"trailing. . ", "trailing"},
      {"caf\xc3\xa9.txt", "caf\xc3\xa9.txt"},
  };
  for (const Case& c : cases) EXPECT_EQ(PlainFileName(c.offered), c.expected) << c.offered;
}

TEST(PlainFileName, LongNamesAreCutAtACharacterKeepingTheExtension) {
  std::string name;
  for (int i = 0; i < 150; ++i) name += "\xc3\xa9";  // 300 bytes of two-byte characters
  name += ".tar.gz";
  std::string plain = PlainFileName(name);
  EXPECT_LE(plain.size(), kMaxFileNameBytes);
  EXPECT_TRUE(plain.ends_with(".gz"));
  // No split sequence: every lead byte is followed by its continuation byte.
  std::string stem = plain.substr(0, plain.size() - 3);
  ASSERT_EQ(stem.size() % 2, 0u);
  for (size_t i = 0; i < stem.size(); i += 2) EXPECT_EQ(stem.substr(i, 2), "\xc3\xa9");
}

}  // namespace
}  // namespace vexalo
