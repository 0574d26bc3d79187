#include "app/startoptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexalo {
namespace {

using Args = std::vector<std::string>;

TEST(StartOptionsTest, FlagsInBothSpellings) {
  for (const char* prefix : {"/", "--"}) {
    const std::string p = prefix;
    const CommandLine line = ParseCommandLine(
        {p + "autostart", p + "forcestart", p + "register", p + "unregister", p + "checkupdate",
         p + "noidmoraauth", p + "plaintextauth", p + "factoryreset", p + "nomutex",
         p + "Embedding", p + "help", p + "version"});
    ASSERT_TRUE(line.ok()) << line.ErrorText();
    const StartOptions& o = line.options;
    EXPECT_TRUE(o.autostart && o.forcestart && o.register_app && o.unregister_app &&
                o.checkupdate && o.no_account_token && o.factoryreset && o.nomutex && o.help &&
                o.version)
        << prefix;
    EXPECT_FALSE(o.mailto || o.log_options || o.account_auth_server);
  }
  const CommandLine none = ParseCommandLine({});
  EXPECT_TRUE(none.ok());
  EXPECT_FALSE(none.options.autostart || none.options.nomutex || none.options.log_options);
}

TEST(StartOptionsTest, ValuesComeFromTheFollowingArguments) {
  struct Case {
    Args args;
    std::optional<std::string> log;
    std::optional<std::string> mailto;
    std::optional<std::string> server;
    bool autostart;
  };
  const Case cases[] = {
      {{"/log", "verbose", "file"}, "verbose file", {}, {}, false},
      {{"/log", "info", "/autostart"}, "info", {}, {}, true},
      {{"--log", "info", "debug", "--autostart"}, "info debug", {}, {}, true},
      {{"/log"}, "", {}, {}, false},
      {{"/diag"}, "diag", {}, {}, false},
      {{"/diag", "verbose"}, "diag verbose", {}, {}, false},
      {{"/diag", "x", "/log", "info"}, "info", {}, {}, false},
      {{"/mailto", "mailto:a@b.c"}, {}, "mailto:a@b.c", {}, false},
      // Everything after the link's switch is the link, switches included.
      {{"/mailto", "mailto:a@b.c?subject=a", "b", "/autostart"},
       {},
       "mailto:a@b.c?subject=a b /autostart",
       {},
       false},
      {{"/idmoraserver", "auth.example:443", "/autostart"}, {}, {}, "auth.example:443", true},
  };
  for (const Case& c : cases) {
    const CommandLine line = ParseCommandLine(c.args);
    ASSERT_TRUE(line.ok()) << c.args[0] << " " << line.ErrorText();
    EXPECT_EQ(line.options.log_options, c.log) << c.args[0];
    EXPECT_EQ(line.options.mailto, c.mailto) << c.args[0];
    EXPECT_EQ(line.options.account_auth_server, c.server) << c.args[0];
    EXPECT_EQ(line.options.autostart, c.autostart) << c.args[0];
  }
}

TEST(StartOptionsTest, UnknownArgumentsAndMissingValuesAreNamed) {
  struct Case {
    Args args;
    Args unknown;
    Args missing;
  };
  const Case cases[] = {
      {{"/bogus"}, {"/bogus"}, {}},
      {{"--FactoryReset"}, {"--FactoryReset"}, {}},  // switches are case-sensitive
      {{"-h", "stray", "/"}, {"-h", "stray", "/"}, {}},
      {{"/autostartx", "/autostart"}, {"/autostartx"}, {}},
      {{"/mailto"}, {}, {"/mailto"}},
      {{"/idmoraserver"}, {}, {"/idmoraserver"}},
      {{"/idmoraserver", "/autostart"}, {}, {"/idmoraserver"}},
  };
  for (const Case& c : cases) {
    const CommandLine line = ParseCommandLine(c.args);
    EXPECT_FALSE(line.ok()) << c.args[0];
    EXPECT_EQ(line.unknown, c.unknown) << c.args[0];
    EXPECT_EQ(line.missing_value, c.missing) << c.args[0];
  }
}

TEST(StartOptionsTest, ErrorTextIsOneLineWithAHint) {
  const CommandLine line = ParseCommandLine({"/x\ny", "--\x1b[31mred", "/mailto"});
  const std::string text = line.ErrorText();
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_NE(text.find("'/x\\x0ay'"), std::string::npos) << text;
  EXPECT_NE(text.find("'/mailto' needs a value"), std::string::npos) << text;
  EXPECT_NE(text.find("--help"), std::string::npos);
  const CommandLine long_line = ParseCommandLine({"/" + std::string(10000, 'a')});
  EXPECT_LT(long_line.ErrorText().size(), 200u);
}

}  // namespace
}  // namespace vexalo
