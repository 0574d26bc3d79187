#include "text/asciitext.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace vexalo {
namespace {

TEST(AsciiTextTest, CaseFoldingIsAsciiOnly) {
  EXPECT_TRUE(EqualsNoCase("Content-LENGTH", "content-length"));
  EXPECT_FALSE(EqualsNoCase("content-length", "content-lengt"));
  // Bytes beyond ASCII are compared as they are, whatever the locale says.
  EXPECT_FALSE(EqualsNoCase("\xc3\x84", "\xc3\xa4"));
  EXPECT_TRUE(StartsWithNoCase("Proxy-Authenticate: Basic", "proxy-authenticate:"));
  EXPECT_FALSE(StartsWithNoCase("Proxy", "proxy-authenticate:"));
  EXPECT_EQ(AsciiLowerCase("FireFox-ESR \xc3\x84"), "firefox-esr \xc3\x84");
  EXPECT_TRUE(LessNoCase("accept", "Host"));
  EXPECT_FALSE(LessNoCase("HOST", "host"));
}

TEST(AsciiTextTest, TrimsTheCharactersAsked) {
  EXPECT_EQ(Trim(" \t value \r\n"), "value");
  EXPECT_EQ(TrimLeft("  a b "), "a b ");
  EXPECT_EQ(TrimRight("a b \v\f"), "a b");
  // Header values lose spaces, tabs and the line's CR only.
  EXPECT_EQ(TrimRight("chunked \t\r", " \t\r"), "chunked");
  EXPECT_EQ(TrimRight("x\v", " \t\r"), "x\v");
  EXPECT_EQ(Trim("   "), "");
}

TEST(AsciiTextTest, WholeTextNumbersStayWithinTheLimit) {
  enum Base { kDec, kHex };
  struct Case {
    Base base;
    const char* text;
    uint64_t max;
    bool ok;
    uint64_t value;
  };
  const Case cases[] = {
      {kDec, "0", 10, true, 0},
      {kDec, "65535", 65535, true, 65535},
      {kDec, "65536", 65535, false, 0},
      {kDec, "007", 10, true, 7},
      {kDec, "", 10, false, 0},
      {kDec, "+1", 10, false, 0},
      {kDec, " 1", 10, false, 0},
      {kDec, "1 ", 10, false, 0},
      {kDec, "0x10", 100, false, 0},
      {kDec, "18446744073709551615", UINT64_MAX, true, UINT64_MAX},
      {kDec, "18446744073709551616", UINT64_MAX, false, 0},
      {kDec, "99999999999999999999999999", UINT64_MAX, false, 0},
      {kHex, "0", 10, true, 0},
      {kHex, "fF", 255, true, 255},
      {kHex, "100", 255, false, 0},
      {kHex, "", 10, false, 0},
      {kHex, "0x1", 100, false, 0},
      {kHex, "1g", 100, false, 0},
      {kHex, "1;ext", 100, false, 0},
      {kHex, "ffffffffffffffff", UINT64_MAX, true, UINT64_MAX},
      {kHex, "10000000000000000", UINT64_MAX, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.base == kHex ? "hex " : "decimal ") + c.text);
    uint64_t value = 12345;
    const bool ok = c.base == kHex ? ParseHexadecimal(c.text, c.max, &value)
                                   : ParseDecimal(c.text, c.max, &value);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(value, c.ok ? c.value : 12345u);
  }
}

TEST(AsciiTextTest, ReadLeadingDecimalReadsLikeAtoiWithinARange) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"  7", true, 7},
      {"\t-3", true, -3},
      {"+8", true, 8},
      {"12abc", true, 12},
      {"", false, 0},
      {"-", false, 0},
      {"abc", false, 0},
      {" - 3", false, 0},
      {"128", false, 0},
      {"-129", false, 0},
      {"127", true, 127},
      {"-128", true, -128},
      {"00000000000000000000000000001", true, 1},
      {"99999999999999999999999999", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    int32_t value = -999;
    EXPECT_EQ(ReadLeadingDecimal(c.text, -128, 127, &value), c.ok);
    EXPECT_EQ(value, c.ok ? c.value : -999);
  }
  int64_t wide = 0;
  EXPECT_TRUE(ReadLeadingDecimal("9223372036854775807", 0, INT64_MAX, &wide));
  EXPECT_EQ(wide, INT64_MAX);
  EXPECT_FALSE(ReadLeadingDecimal("9223372036854775808", 0, INT64_MAX, &wide));
}

}  // namespace
}  // namespace vexalo
